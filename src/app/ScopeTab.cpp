#include "app/ScopeTab.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QSaveFile>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

#include "app/BasicTab.h"
#include "app/Cp1252.h"
#include "app/PortBusy.h"
#include "app/Winbinform.h"
#include "util/SafeFile.h"

namespace vindelor::app {

namespace {

constexpr std::array<int, 9> kWindowSeconds = {1, 2, 5, 10, 30, 60, 120, 300, 600};
constexpr int kDefaultWindowIndex = 3;  // 10 s
constexpr double kYMargin = 0.05;

QString WindowText(int seconds) {
    return seconds < 60 ? QStringLiteral("%1 s").arg(seconds) : QStringLiteral("%1 min").arg(seconds / 60);
}

}  // namespace

ScopeTab::ScopeTab(TfrmMain& window) : window_(window) {
    setObjectName(QStringLiteral("tsScope"));
    sender_.setAddressSource([&window] { return window.sender().GetAddress(); });
    sender_.setGroupSource([&window] { return window.sender().GetGroup(); });

    btnScopeRun = new QPushButton(QStringLiteral("Run"));
    btnScopeRun->setObjectName(QStringLiteral("btnScopeRun"));
    btnScopeStop = new QPushButton(QStringLiteral("Stop"));
    btnScopeStop->setObjectName(QStringLiteral("btnScopeStop"));
    btnScopeStop->setEnabled(false);
    cbScopeWindow = new QComboBox;
    cbScopeWindow->setObjectName(QStringLiteral("cbScopeWindow"));
    for (int s : kWindowSeconds) cbScopeWindow->addItem(WindowText(s), s);
    cbScopeWindow->setCurrentIndex(kDefaultWindowIndex);
    btnScopeExport = new QPushButton(QStringLiteral("Export CSV"));
    btnScopeExport->setObjectName(QStringLiteral("btnScopeExport"));
    btnScopeImage = new QPushButton(QStringLiteral("Save image"));
    btnScopeImage->setObjectName(QStringLiteral("btnScopeImage"));
    lblScopeRate = new QLabel(QStringLiteral("Rate: -"));
    lblScopeRate->setObjectName(QStringLiteral("lblScopeRate"));
    lblScopeCursor = new QLabel;
    lblScopeCursor->setObjectName(QStringLiteral("lblScopeCursor"));

    auto* chart = new QChart;
    chart->setMargins(QMargins(2, 2, 2, 2));
    chart->legend()->setAlignment(Qt::AlignTop);
    axisX_ = new QValueAxis;
    axisX_->setTitleText(QStringLiteral("s"));
    axisX_->setRange(0, windowSeconds());
    axisY_ = new QValueAxis;
    axisY_->setRange(0, 1);
    chart->addAxis(axisX_, Qt::AlignBottom);
    chart->addAxis(axisY_, Qt::AlignLeft);
    for (int c = 0; c < registers::kScopeChannels; ++c) {
        auto* s = new QLineSeries;
        s->setName(QString::number(c + 1));
        // Points drawn by OpenGL would not show in a grabbed image; a few thousand points a
        // channel are cheap enough for the raster engine.
        s->setUseOpenGL(false);
        chart->addSeries(s);
        s->attachAxis(axisX_);
        s->attachAxis(axisY_);
        series_[static_cast<std::size_t>(c)] = s;
    }
    chScope = new QChartView(chart);
    chScope->setObjectName(QStringLiteral("chScope"));
    chScope->setRenderHint(QPainter::Antialiasing, false);
    chScope->viewport()->setMouseTracking(true);
    chScope->viewport()->installEventFilter(this);

    auto* controls = new QHBoxLayout;
    controls->addWidget(btnScopeRun);
    controls->addWidget(btnScopeStop);
    controls->addWidget(new QLabel(QStringLiteral("Window")));
    controls->addWidget(cbScopeWindow);
    controls->addWidget(lblScopeRate);
    controls->addStretch();
    controls->addWidget(btnScopeExport);
    controls->addWidget(btnScopeImage);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(controls);
    layout->addWidget(chScope, 1);
    layout->addWidget(lblScopeCursor);

    timeout_.setSingleShot(true);
    timeout_.setInterval(registers::SampleLoop::kReplyTimeoutMs);
    connect(&timeout_, &QTimer::timeout, this, [this] { sendNext(); });
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, [this] { refreshPlot(); });

    connect(btnScopeRun, &QPushButton::clicked, this, [this] { run(); });
    connect(btnScopeStop, &QPushButton::clicked, this, [this] { stop(); });
    connect(cbScopeWindow, &QComboBox::activated, this, [this] {
        if (!running()) axisX_->setRange(0, windowSeconds());
        refreshPlot();
    });
    connect(btnScopeExport, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"), QStringLiteral("scope.csv"),
                                                          QStringLiteral("CSV files (*.csv);;All files (*)"));
        if (!path.isEmpty()) exportCsv(path);
    });
    connect(btnScopeImage, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save image"), QStringLiteral("scope.png"),
                                                          QStringLiteral("PNG images (*.png)"));
        if (!path.isEmpty()) saveImage(path);
    });
    // A zoom on a stopped trace draws the rows of the new range at full detail.
    connect(axisX_, &QValueAxis::rangeChanged, this, [this](qreal from, qreal to) {
        if (!plotting_ && !running()) QTimer::singleShot(0, this, [this, from, to] { plotRange(from, to); });
    });
}

ScopeTab::~ScopeTab() {
    timeout_.stop();
    busy_.reset();
}

double ScopeTab::windowSeconds() const { return cbScopeWindow->currentData().toInt(); }

void ScopeTab::run() {
    if (running()) return;
    auto& list = window_.tsBasic->list;
    window_.clearMemos();
    // The selectors are read first, as key S does with an empty table; their replies name
    // the channels before the first row comes in.
    for (int k = 0; k < registers::kScopeChannels; ++k) list.RequestRegister(list.defs.findRegisterIndex(list.defs.sampleBase + k));
    rec_.clear();
    loop_ = registers::SampleLoop {};
    lastReplyOut_ = false;
    busy_.reset(new PortBusy(window_, {btnScopeStop, cbScopeWindow},
                             [this] { QTimer::singleShot(0, this, [this] { stop(); }); }));
    btnScopeStop->setEnabled(true);
    chScope->setRubberBand(QChartView::NoRubberBand);
    chScope->chart()->zoomReset();
    start_ = Clock::now();
    refresh_.start();
    sendNext();
}

void ScopeTab::stop() {
    if (!running()) return;
    lastReplyOut_ = !loop_.due(Clock::now());
    timeout_.stop();
    refresh_.stop();
    busy_.reset();
    btnScopeStop->setEnabled(false);
    chScope->setRubberBand(QChartView::RectangleRubberBand);
    refreshPlot();
}

void ScopeTab::sendNext() {
    if (!running()) return;
    auto* port = window_.port();
    if (!window_.receiving() || !port) {
        stop();  // the port is gone: the status line says so, Run starts again
        return;
    }
    sender_.setPort(port);
    try {
        sender_.SendCommand(protocol::Cmd::Sample);
    } catch (const serial::TSerErr&) {
        stop();
        return;
    }
    loop_.sent(Clock::now());
    timeout_.start();
}

void ScopeTab::takeChannels() {
    const auto& list = window_.tsBasic->list;
    rec_.wordsPerRegister = list.defs.wordsPerRegister;
    for (int c = 0; c < registers::kScopeChannels; ++c) {
        auto& ch = rec_.channels[static_cast<std::size_t>(c)];
        const auto& caption = list.sampleCaptions[static_cast<std::size_t>(c)];
        const int type = list.sampleTypes[static_cast<std::size_t>(c)];
        if (ch.name == caption && ch.type == type) continue;
        ch.name = caption;
        ch.type = type;
        series_[static_cast<std::size_t>(c)]->setName(FromCp1252(caption));
    }
}

bool ScopeTab::onSampleRow(std::span<const std::uint8_t> payload) {
    const bool late = !running() && lastReplyOut_ && !loop_.due(Clock::now());
    lastReplyOut_ = false;
    if (!running() && !late) return false;
    const double t = std::chrono::duration<double>(Clock::now() - start_).count();
    takeChannels();
    rec_.addRow(t, payload);
    loop_.replied();
    if (late)
        refreshPlot();
    else
        sendNext();
    return true;
}

void ScopeTab::refreshPlot() {
    const auto& rows = rec_.rows();
    const double last = rows.empty() ? 0 : rows.back().seconds;
    if (running() || !chScope->chart()->isZoomed()) {
        const double w = windowSeconds();
        plotRange(std::max(0.0, last - w), std::max(w, last));
    } else {
        plotRange(axisX_->min(), axisX_->max());
    }
    showRate();
}

void ScopeTab::plotRange(double from, double to) {
    plotting_ = true;
    const auto& rows = rec_.rows();
    auto first = std::lower_bound(rows.begin(), rows.end(), from,
                                  [](const registers::ScopeRow& r, double t) { return r.seconds < t; });
    auto end = std::upper_bound(first, rows.end(), to,
                                [](double t, const registers::ScopeRow& r) { return t < r.seconds; });
    const std::size_t n = static_cast<std::size_t>(end - first);
    const int columns = std::max(1, static_cast<int>(chScope->chart()->plotArea().width()));
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    for (int c = 0; c < registers::kScopeChannels; ++c) {
        QList<QPointF> points;
        const auto ci = static_cast<std::size_t>(c);
        if (rec_.channels[ci].type != 0) {
            if (n <= 2 * static_cast<std::size_t>(columns)) {
                points.reserve(static_cast<qsizetype>(n));
                for (auto it = first; it != end; ++it) points.append(QPointF(it->seconds, it->values[ci]));
            } else {
                // Each pixel column gets the lowest and the highest value of its rows, in the
                // order they came, so peaks survive the thinning.
                points.reserve(2 * columns);
                const double span = (to - from) / columns;
                auto it = first;
                for (int col = 0; col < columns && it != end; ++col) {
                    const double edge = from + span * (col + 1);
                    auto minIt = it;
                    auto maxIt = it;
                    for (; it != end && (it->seconds < edge || col == columns - 1); ++it) {
                        if (it->values[ci] < minIt->values[ci]) minIt = it;
                        if (it->values[ci] > maxIt->values[ci]) maxIt = it;
                    }
                    const auto a = std::min(minIt, maxIt);
                    const auto b = std::max(minIt, maxIt);
                    points.append(QPointF(a->seconds, a->values[ci]));
                    if (b != a) points.append(QPointF(b->seconds, b->values[ci]));
                }
            }
            for (const auto& p : points) {
                lo = std::min(lo, p.y());
                hi = std::max(hi, p.y());
            }
        }
        series_[ci]->replace(points);
    }
    axisX_->setRange(from, to);
    if (std::isfinite(lo) && (running() || !chScope->chart()->isZoomed())) {
        const double margin = std::max((hi - lo) * kYMargin, 0.5);
        axisY_->setRange(lo - margin, hi + margin);
    }
    plotting_ = false;
}

void ScopeTab::showRate() {
    lblScopeRate->setText(QStringLiteral("Rate: %1 rows/s").arg(QString::number(rec_.rate(), 'f', 1)));
}

int ScopeTab::plottedPoints(int channel) const { return static_cast<int>(series_[static_cast<std::size_t>(channel)]->count()); }

QString ScopeTab::readoutAt(double seconds) const {
    const auto& rows = rec_.rows();
    if (rows.empty()) return {};
    auto it = std::lower_bound(rows.begin(), rows.end(), seconds,
                               [](const registers::ScopeRow& r, double t) { return r.seconds < t; });
    if (it == rows.end() || (it != rows.begin() && seconds - (it - 1)->seconds < it->seconds - seconds)) --it;
    QString text = QStringLiteral("t %1 s").arg(QString::number(it->seconds, 'f', 6));
    for (int c = 0; c < registers::kScopeChannels; ++c) {
        const auto ci = static_cast<std::size_t>(c);
        if (rec_.channels[ci].type == 0) continue;
        text += QStringLiteral("    %1 %2")
                    .arg(FromCp1252(rec_.channels[ci].name), QString::fromStdString(registers::ScopeNumber(it->values[ci])));
    }
    return text;
}

bool ScopeTab::eventFilter(QObject* watched, QEvent* e) {
    if (watched == chScope->viewport() && e->type() == QEvent::MouseMove) {
        const auto* me = static_cast<QMouseEvent*>(e);
        const QPointF value = chScope->chart()->mapToValue(chScope->mapToScene(me->position().toPoint()));
        lblScopeCursor->setText(readoutAt(value.x()));
    }
    return QWidget::eventFilter(watched, e);
}

bool ScopeTab::exportCsv(const QString& path) {
    std::ostringstream csv;
    rec_.writeCsv(csv);
    const std::string error = util::WriteFileSafely(path.toStdString(), csv.str());
    if (error.empty()) return true;
    window_.notifier().warning("Error", error);
    return false;
}

bool ScopeTab::saveImage(const QString& path) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && chScope->grab().save(&file, "PNG") && file.commit()) return true;
    window_.notifier().warning("Error", "Cannot write " + path.toStdString() + ": " + file.errorString().toStdString());
    return false;
}

}  // namespace vindelor::app
