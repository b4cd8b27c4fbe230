#pragma once

#include <QString>
#include <QStringList>

#include <vector>

class QCategoryAxis;

namespace vindelor::app {

// Round tick values for the scope's axes: steps of 1, 2 or 5 times a power of ten, every tick a
// whole multiple of its step, labelled with just the decimals the step needs ("0.25" never
// reads "0.2500001", zero never "-0").
struct ScopeTicks {
    double min = 0;  // the axis range
    double max = 1;
    double step = 1;
    std::vector<double> values;  // the ticks within the range, rising
    QStringList labels;          // one per value

    bool operator==(const ScopeTicks&) const = default;
};

// The smallest step of 1, 2 or 5 times a power of ten that is not below raw (raw > 0).
double RoundStep(double raw);

// Ticks for a given range: the finest round step that puts at most maxTicks + 1 ticks in it
// (maxTicks steps).
ScopeTicks TicksWithin(double from, double to, int maxTicks);

// A range around the values lo to hi of exactly `divisions` round steps, its ends ticks too, so
// that axes of different channels with the same number of divisions share their grid lines.
// A flat channel (lo = hi) gets a range around its value.
ScopeTicks RangeAround(double lo, double hi, int divisions);

// The label of value k x step, with the decimals of the step.
QString TickLabel(double value, double step);

// Puts the range and its ticks on an axis whose labels sit on the tick values; nothing changes
// (no new layout of the chart) when they are there already.
void ApplyTicks(QCategoryAxis* axis, const ScopeTicks& ticks);

}  // namespace vindelor::app
