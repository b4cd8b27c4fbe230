#pragma once

#include <QChartView>

#include <array>
#include <optional>

#include "app/ScopeRows.h"
#include "registers/Scope.h"

class QCategoryAxis;
class QGraphicsSimpleTextItem;
class QLineSeries;

namespace vindelor::app {

// The scope's chart: the four channels over time, round ticks on every axis, each channel on
// the shared axis at the left or, on request, on an axis of its own at the right (channels of
// very different sizes would otherwise flatten each other). Every value axis has the same
// number of divisions, so their grid lines coincide. It draws at most two points per pixel
// column of each channel, the lowest and the highest of the rows there, so peaks survive; the
// trigger (time 0 and the level) and two cursors are drawn as marks over the channels.
class ScopePlot : public QChartView {
    Q_OBJECT
  public:
    static constexpr int kPixelsPerTimeTick = 70;
    static constexpr int kPixelsPerDivision = 40;
    static constexpr int kMinDivisions = 4;
    static constexpr int kMaxDivisions = 10;

    ScopePlot();

    // The channel's legend name, and whether it has values (a placeholder has none).
    void setChannel(int channel, const QString& name, bool hasValues);
    void setOwnAxis(int channel, bool own);
    bool ownAxis(int channel) const { return own_[static_cast<std::size_t>(channel)]; }

    // Draws the rows from `from` to `to` seconds. fitY fits every value axis to what it
    // shows; otherwise they keep their range (a zoom) and only get round ticks.
    void plot(const ScopeRows& rows, double from, double to, bool fitY);
    // Time 0 and the level on the trigger channel's axis; nothing when not shown.
    void setTriggerMark(std::optional<int> channel, double level = 0);
    // The two cursors, at their times; an absent one is not drawn.
    void setCursors(std::optional<double> a, std::optional<double> b);

    int plottedPoints(int channel) const;
    QCategoryAxis* timeAxis() const { return axisX_; }
    // The value axis a channel is drawn against.
    QCategoryAxis* valueAxis(int channel) const;
    // Time at a point of the viewport, and the viewport column of a time.
    double timeAt(QPointF viewportPoint) const;
    double columnOf(double seconds) const;

  signals:
    // The time range changed by a zoom of the user (not by plot()).
    void zoomedTo(double from, double to);

  private:
    void placeMarks();
    // The number of divisions of every value axis: as many as the height allows or fewer,
    // whichever fits the axis that draws the grid tightest.
    int divisionsFor(double height, double sharedLo, double sharedHi,
                     const std::array<double, registers::kScopeChannels>& lo,
                     const std::array<double, registers::kScopeChannels>& hi) const;

    std::array<QLineSeries*, registers::kScopeChannels> series_{};
    std::array<bool, registers::kScopeChannels> shown_{};
    std::array<bool, registers::kScopeChannels> own_{};
    QCategoryAxis* axisX_;
    QCategoryAxis* shared_;
    std::array<QCategoryAxis*, registers::kScopeChannels> ownAxes_{};
    QLineSeries* zeroMark_;   // time 0 of a triggered capture
    QLineSeries* levelMark_;  // the trigger level
    std::array<QLineSeries*, 2> cursorMarks_{};
    std::array<QGraphicsSimpleTextItem*, 2> cursorNames_{};
    std::optional<int> triggerChannel_;
    double level_ = 0;
    std::array<std::optional<double>, 2> cursors_{};
    bool plotting_ = false;
    int divisions_ = kMinDivisions;
};

}  // namespace vindelor::app
