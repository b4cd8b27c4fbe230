#include "app/ScopeTicks.h"

#include <QCategoryAxis>

#include <algorithm>
#include <cmath>

namespace vindelor::app {

namespace {

// Room for the rounding of a quotient that should be whole.
constexpr double kFuzz = 1e-9;

// A round step: mantissa 1, 2 or 5 times ten to the exponent. Tick k is computed as the whole
// number k x mantissa scaled by the power of ten, so it is the double nearest the decimal value.
struct Step {
    int mantissa = 1;
    int exponent = 0;

    double value() const { return at(1); }
    double at(long long k) const {
        const double whole = static_cast<double>(k) * mantissa;
        const double scale = std::pow(10.0, std::abs(exponent));
        return exponent >= 0 ? whole * scale : whole / scale;
    }
    Step next() const {
        switch (mantissa) {
            case 1:
                return {2, exponent};
            case 2:
                return {5, exponent};
            default:
                return {1, exponent + 1};
        }
    }
};

Step RoundStepFor(double raw) {
    if (!(raw > 0) || !std::isfinite(raw)) return {};
    Step s{1, static_cast<int>(std::floor(std::log10(raw)))};
    while (s.value() < raw * (1 - kFuzz)) s = s.next();
    return s;
}

ScopeTicks TicksOf(double min, double max, Step step) {
    ScopeTicks t;
    t.min = min;
    t.max = max;
    t.step = step.value();
    const auto first = static_cast<long long>(std::ceil(min / t.step - kFuzz));
    const auto last = static_cast<long long>(std::floor(max / t.step + kFuzz));
    for (long long k = first; k <= last; ++k) {
        t.values.push_back(step.at(k));
        t.labels << TickLabel(t.values.back(), t.step);
    }
    return t;
}

}  // namespace

double RoundStep(double raw) {
    return RoundStepFor(raw).value();
}

QString TickLabel(double value, double step) {
    const int decimals = std::max(0, -static_cast<int>(std::floor(std::log10(step) + kFuzz)));
    // The tick at zero, however it was computed, reads "0" and never "-0".
    return QString::number(std::abs(value) < step / 2 ? 0.0 : value, 'f', decimals);
}

ScopeTicks TicksWithin(double from, double to, int maxTicks) {
    if (!std::isfinite(from) || !std::isfinite(to)) from = 0, to = 1;
    if (!(to > from)) to = from + 1;
    // The finest round step whose ticks fit: the step of range / maxTicks alone may leave a
    // single tick in the range (123456 to 987654 in fours: only 500000), where one step finer
    // has several. Counting from a few steps finer than needed finds it.
    const long long most = std::max(1, maxTicks) + 1;
    constexpr double kFinerStart = 3;
    Step step = RoundStepFor((to - from) / (kFinerStart * static_cast<double>(most)));
    auto count = [&](Step st) {
        return static_cast<long long>(std::floor(to / st.value() + kFuzz)) -
               static_cast<long long>(std::ceil(from / st.value() - kFuzz)) + 1;
    };
    while (count(step) > most) step = step.next();
    return TicksOf(from, to, step);
}

ScopeTicks RangeAround(double lo, double hi, int divisions) {
    divisions = std::max(1, divisions);
    if (!std::isfinite(lo) || !std::isfinite(hi)) lo = 0, hi = 1;
    if (hi < lo) std::swap(lo, hi);
    if (hi == lo) {
        // A flat line sits in the middle of a range the size of its value's leading digit.
        const double room = lo == 0 ? 1 : std::pow(10.0, std::floor(std::log10(std::abs(lo))));
        lo -= room / 2;
        hi += room / 2;
    }
    Step step = RoundStepFor((hi - lo) / divisions);
    long long low = 0;
    long long high = 0;
    for (;;) {
        low = static_cast<long long>(std::floor(lo / step.value() + kFuzz));
        high = static_cast<long long>(std::ceil(hi / step.value() - kFuzz));
        if (high - low <= divisions) break;
        step = step.next();
    }
    // The steps left over go half below and half above, but not across zero: a channel that
    // never goes negative keeps 0 at the bottom.
    long long first = low - (divisions - (high - low)) / 2;
    if (lo >= 0 && first < 0) first = 0;
    if (hi <= 0 && first + divisions > 0) first = -divisions;
    return TicksOf(step.at(first), step.at(first + divisions), step);
}

void ApplyTicks(QCategoryAxis* axis, const ScopeTicks& ticks) {
    if (axis->min() != ticks.min || axis->max() != ticks.max) axis->setRange(ticks.min, ticks.max);
    const QStringList old = axis->categoriesLabels();
    if (old == ticks.labels) return;
    for (const QString& label : old) axis->remove(label);
    axis->setStartValue(ticks.min);
    for (std::size_t i = 0; i < ticks.values.size(); ++i)
        axis->append(ticks.labels[static_cast<qsizetype>(i)], ticks.values[i]);
}

}  // namespace vindelor::app
