#include "app/ScopePlot.h"

#include <QCategoryAxis>
#include <QChart>
#include <QGraphicsSimpleTextItem>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>

#include <algorithm>
#include <cmath>
#include <limits>

#include "app/ScopeTicks.h"

namespace vindelor::app {

namespace {

constexpr int kMarkGrey = 110;
constexpr int kNameOffset = 3;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

QCategoryAxis* MakeAxis() {
    auto* axis = new QCategoryAxis;
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    return axis;
}

// A mark drawn as a series over the channels, with no legend entry.
QLineSeries* AddMark(QChart* chart, QCategoryAxis* x, QCategoryAxis* y, const QPen& pen) {
    auto* s = new QLineSeries;
    s->setUseOpenGL(false);
    s->setPen(pen);
    chart->addSeries(s);
    s->attachAxis(x);
    s->attachAxis(y);
    for (auto* marker : chart->legend()->markers(s)) marker->setVisible(false);
    return s;
}

}  // namespace

ScopePlot::ScopePlot() {
    auto* chart = new QChart;
    chart->setMargins(QMargins(2, 2, 2, 2));
    chart->legend()->setAlignment(Qt::AlignTop);
    axisX_ = MakeAxis();
    axisX_->setTitleText(QStringLiteral("s"));
    shared_ = MakeAxis();
    chart->addAxis(axisX_, Qt::AlignBottom);
    chart->addAxis(shared_, Qt::AlignLeft);
    for (int c = 0; c < registers::kScopeChannels; ++c) {
        auto* s = new QLineSeries;
        s->setName(QString::number(c + 1));
        // Points drawn by OpenGL would not show in a grabbed image; a few thousand points a
        // channel are cheap enough for the raster engine.
        s->setUseOpenGL(false);
        chart->addSeries(s);
        s->attachAxis(axisX_);
        s->attachAxis(shared_);
        series_[static_cast<std::size_t>(c)] = s;
        auto* own = MakeAxis();
        own->setGridLineVisible(false);
        own->setLabelsColor(s->color());
        own->setLinePenColor(s->color());
        ownAxes_[static_cast<std::size_t>(c)] = own;
    }
    zeroMark_ = AddMark(chart, axisX_, shared_,
                        QPen(QColor(kMarkGrey, kMarkGrey, kMarkGrey), 1, Qt::DashLine));
    levelMark_ = AddMark(chart, axisX_, shared_,
                         QPen(QColor(kMarkGrey, kMarkGrey, kMarkGrey), 1, Qt::DashLine));
    const QColor cursorColours[] = {QColor(Qt::black), QColor(Qt::darkMagenta)};
    for (std::size_t i = 0; i < cursorMarks_.size(); ++i) {
        cursorMarks_[i] = AddMark(chart, axisX_, shared_, QPen(cursorColours[i], 1, Qt::SolidLine));
        cursorNames_[i] =
            new QGraphicsSimpleTextItem(i == 0 ? QStringLiteral("A") : QStringLiteral("B"), chart);
        cursorNames_[i]->setBrush(cursorColours[i]);
        cursorNames_[i]->setZValue(chart->zValue() + 1);
        cursorNames_[i]->hide();
    }
    setChart(chart);
    setRenderHint(QPainter::Antialiasing, false);
    ApplyTicks(axisX_, TicksWithin(0, 1, 1));
    ApplyTicks(shared_, RangeAround(0, 1, kMinDivisions));

    connect(axisX_, &QValueAxis::rangeChanged, this, [this](qreal from, qreal to) {
        if (!plotting_) emit zoomedTo(from, to);
    });
    connect(chart, &QChart::plotAreaChanged, this, [this] { placeMarks(); });
}

void ScopePlot::setChannel(int channel, const QString& name, bool hasValues) {
    const auto c = static_cast<std::size_t>(channel);
    if (series_[c]->name() != name) series_[c]->setName(name);
    shown_[c] = hasValues;
}

void ScopePlot::setOwnAxis(int channel, bool own) {
    const auto c = static_cast<std::size_t>(channel);
    if (own_[c] == own) return;
    own_[c] = own;
    QChart* ch = chart();
    if (own) {
        series_[c]->detachAxis(shared_);
        ch->addAxis(ownAxes_[c], Qt::AlignRight);
        series_[c]->attachAxis(ownAxes_[c]);
    } else {
        series_[c]->detachAxis(ownAxes_[c]);
        ch->removeAxis(ownAxes_[c]);
        series_[c]->attachAxis(shared_);
    }
    // The grid comes from the shared axis while a channel is drawn on it, else from the first
    // channel's own axis; the shared axis without a channel shows nothing.
    const bool anyShared = std::find(own_.begin(), own_.end(), false) != own_.end();
    shared_->setLabelsVisible(anyShared);
    shared_->setLineVisible(anyShared);
    shared_->setGridLineVisible(anyShared);
    bool gridGiven = anyShared;
    for (std::size_t k = 0; k < ownAxes_.size(); ++k) {
        ownAxes_[k]->setGridLineVisible(own_[k] && !gridGiven);
        if (own_[k]) gridGiven = true;
    }
    if (triggerChannel_) setTriggerMark(triggerChannel_, level_);
}

QCategoryAxis* ScopePlot::valueAxis(int channel) const {
    const auto c = static_cast<std::size_t>(channel);
    return own_[c] ? ownAxes_[c] : shared_;
}

void ScopePlot::plot(const ScopeRows& rows, double from, double to, bool fitY) {
    plotting_ = true;
    // With the row just outside each end, so the line reaches the edges of the plot (a capture
    // starts at the last row at or before its pre-trigger time); the chart clips it there.
    const std::size_t inside = rows.lowerBound(from);
    const std::size_t first = inside > 0 ? inside - 1 : inside;
    const std::size_t end = std::max(first, std::min(rows.size(), rows.upperBound(to) + 1));
    const std::size_t n = end - first;
    const QRectF area = chart()->plotArea();
    const int columns = std::max(1, static_cast<int>(area.width()));
    std::array<double, registers::kScopeChannels> lo;
    std::array<double, registers::kScopeChannels> hi;
    lo.fill(kInfinity);
    hi.fill(-kInfinity);
    for (std::size_t ci = 0; ci < series_.size(); ++ci) {
        QList<QPointF> points;
        if (shown_[ci]) {
            if (n <= 2 * static_cast<std::size_t>(columns)) {
                points.reserve(static_cast<qsizetype>(n));
                for (std::size_t i = first; i < end; ++i)
                    points.append(QPointF(rows[i].seconds, rows[i].values[ci]));
            } else {
                // Each pixel column gets the lowest and the highest value of its rows, in the
                // order they came, so peaks survive the thinning.
                points.reserve(2 * columns);
                const double span = (to - from) / columns;
                std::size_t i = first;
                for (int col = 0; col < columns && i < end; ++col) {
                    const double edge = from + span * (col + 1);
                    std::size_t minI = i;
                    std::size_t maxI = i;
                    for (; i < end && (rows[i].seconds < edge || col == columns - 1); ++i) {
                        if (rows[i].values[ci] < rows[minI].values[ci]) minI = i;
                        if (rows[i].values[ci] > rows[maxI].values[ci]) maxI = i;
                    }
                    const std::size_t a = std::min(minI, maxI);
                    const std::size_t b = std::max(minI, maxI);
                    points.append(QPointF(rows[a].seconds, rows[a].values[ci]));
                    if (b != a) points.append(QPointF(rows[b].seconds, rows[b].values[ci]));
                }
            }
            for (const auto& p : points) {
                if (std::isnan(p.y())) continue;
                lo[ci] = std::min(lo[ci], p.y());
                hi[ci] = std::max(hi[ci], p.y());
            }
        }
        series_[ci]->replace(points);
    }

    ApplyTicks(axisX_, TicksWithin(from, to, std::max(1, columns / kPixelsPerTimeTick)));
    double sharedLo = kInfinity;
    double sharedHi = -kInfinity;
    for (std::size_t ci = 0; ci < series_.size(); ++ci) {
        if (own_[ci]) continue;
        sharedLo = std::min(sharedLo, lo[ci]);
        sharedHi = std::max(sharedHi, hi[ci]);
    }
    const int divisions =
        fitY ? divisionsFor(area.height(), sharedLo, sharedHi, lo, hi) : divisions_;
    divisions_ = divisions;
    auto fit = [&](QCategoryAxis* axis, double low, double high) {
        if (!fitY) {
            ApplyTicks(axis, TicksWithin(axis->min(), axis->max(), divisions));
        } else if (std::isfinite(low)) {
            ApplyTicks(axis, RangeAround(low, high, divisions));
        }
    };
    for (std::size_t ci = 0; ci < series_.size(); ++ci)
        if (own_[ci]) fit(ownAxes_[ci], lo[ci], hi[ci]);
    fit(shared_, sharedLo, sharedHi);
    plotting_ = false;
    placeMarks();
}

int ScopePlot::divisionsFor(double height, double sharedLo, double sharedHi,
                            const std::array<double, registers::kScopeChannels>& lo,
                            const std::array<double, registers::kScopeChannels>& hi) const {
    const int most =
        std::clamp(static_cast<int>(height) / kPixelsPerDivision, kMinDivisions, kMaxDivisions);
    // The axis that draws the grid: the shared one while it has a channel, else the first own.
    double gridLo = sharedLo;
    double gridHi = sharedHi;
    for (std::size_t ci = 0; ci < own_.size() && !std::isfinite(gridLo); ++ci) {
        if (!own_[ci]) continue;
        gridLo = lo[ci];
        gridHi = hi[ci];
    }
    if (!std::isfinite(gridLo)) return most;
    // A fixed count of divisions can leave most of the axis empty (0 to 1100 in five round
    // steps is 0 to 2500); the count, as many as fit or fewer, whose range is tightest around
    // the values draws them largest.
    int best = most;
    double bestSpan = kInfinity;
    for (int d = most; d >= kMinDivisions; --d) {
        const ScopeTicks t = RangeAround(gridLo, gridHi, d);
        if (t.max - t.min < bestSpan) {
            bestSpan = t.max - t.min;
            best = d;
        }
    }
    return best;
}

void ScopePlot::setTriggerMark(std::optional<int> channel, double level) {
    triggerChannel_ = channel;
    level_ = level;
    // The level line belongs to the axis of the trigger channel.
    QCategoryAxis* axis = channel ? valueAxis(*channel) : shared_;
    for (QAbstractAxis* a : levelMark_->attachedAxes())
        if (a != axisX_ && a != axis) levelMark_->detachAxis(a);
    if (!levelMark_->attachedAxes().contains(axis)) levelMark_->attachAxis(axis);
    if (channel) {
        QPen pen = levelMark_->pen();
        pen.setColor(series_[static_cast<std::size_t>(*channel)]->color());
        levelMark_->setPen(pen);
    }
    placeMarks();
}

void ScopePlot::setCursors(std::optional<double> a, std::optional<double> b) {
    cursors_ = {a, b};
    placeMarks();
}

void ScopePlot::placeMarks() {
    const double xMin = axisX_->min();
    const double xMax = axisX_->max();
    const double yMin = shared_->min();
    const double yMax = shared_->max();
    auto vertical = [&](QLineSeries* s, std::optional<double> t) {
        QList<QPointF> points;
        if (t && *t >= xMin && *t <= xMax) points = {QPointF(*t, yMin), QPointF(*t, yMax)};
        s->replace(points);
    };
    vertical(zeroMark_, triggerChannel_ ? std::optional<double>(0.0) : std::nullopt);
    QList<QPointF> level;
    if (triggerChannel_) level = {QPointF(xMin, level_), QPointF(xMax, level_)};
    levelMark_->replace(level);
    for (std::size_t i = 0; i < cursorMarks_.size(); ++i) {
        vertical(cursorMarks_[i], cursors_[i]);
        const bool shown = !cursorMarks_[i]->points().isEmpty();
        cursorNames_[i]->setVisible(shown);
        if (shown) {
            const QPointF top =
                chart()->mapToPosition(QPointF(*cursors_[i], yMax), cursorMarks_[i]);
            cursorNames_[i]->setPos(top.x() + kNameOffset, top.y());
        }
    }
}

int ScopePlot::plottedPoints(int channel) const {
    return static_cast<int>(series_[static_cast<std::size_t>(channel)]->count());
}

double ScopePlot::timeAt(QPointF viewportPoint) const {
    return chart()->mapToValue(mapToScene(viewportPoint.toPoint()), zeroMark_).x();
}

double ScopePlot::columnOf(double seconds) const {
    const QPointF scene = chart()->mapToPosition(QPointF(seconds, shared_->min()), zeroMark_);
    return mapFromScene(scene).x();
}

}  // namespace vindelor::app
