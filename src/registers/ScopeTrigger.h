#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registers/Scope.h"

namespace vindelor::registers {

enum class TriggerEdge { Rising, Falling };

struct TriggerSetup {
    int channel = 0;  // 0 to kScopeChannels - 1
    double level = 0;
    TriggerEdge edge = TriggerEdge::Rising;
    double preSeconds = 0;   // history kept and shown before the trigger
    double postSeconds = 1;  // length of a capture after the trigger

    bool operator==(const TriggerSetup&) const = default;
};

// Whether a channel went through the level from one row to the next: rising from below it to
// the level or above, falling from above it to the level or below. A value that only touches
// the level, or a channel without a number (NaN), does not.
bool CrossesLevel(TriggerEdge edge, double level, double before, double after);

// "NAME>LEVEL" (rising through LEVEL) or "NAME<LEVEL" (falling), as the command line takes a
// trigger. The level is read in the C locale's format.
struct TriggerText {
    std::string channel;
    double level = 0;
    TriggerEdge edge = TriggerEdge::Rising;
};
std::optional<TriggerText> ParseTriggerText(std::string_view text, std::string& error);

// The channel a name picks: a channel's register name (any case), else its number 1 to 4;
// -1 for none.
int FindScopeChannel(const std::array<ScopeChannel, kScopeChannels>& channels,
                     std::string_view name);

// The trigger in the stream of sample rows, evaluated as each row arrives; the command line and
// the window share it. Rows of the last pre-trigger time (or longer, when the caller wants more
// history to show) are kept in a bounded history; the trigger arms once that history holds the
// whole pre-trigger time, and fires on the first row that has gone through the level since the
// row before. A capture is the pre-trigger history (from the last row at or before its start,
// so that it covers that time whole) and the rows up to the post-trigger time,
// each at its time relative to the trigger row, which is time 0.
class ScopeTrigger {
  public:
    // Bounds the history however fast the rows come (at the fastest line rate a wire allows,
    // this is minutes of rows).
    static constexpr std::size_t kMaxHistoryRows = std::size_t{1} << 18;
    // Times are sums and differences of doubles: a row that lies a rounding error past a
    // bound (0.8 - 0.6 > 0.2) still counts as on it. A nanosecond is far below any row's spacing.
    static constexpr double kTimeFuzz = 1e-9;

    enum class State {
        Filling,    // the history is shorter than the pre-trigger time
        Armed,      // watching for the level
        Capturing,  // triggered; the rows after it come in
        Done,       // the capture is whole; rearm() watches for the next
    };
    enum class Event { None, Triggered, Completed };

    explicit ScopeTrigger(const TriggerSetup& setup = {}, double historySeconds = 0);

    const TriggerSetup& setup() const { return setup_; }
    State state() const { return state_; }

    // A row at its time since the run began (times rise from row to row). Triggered on the
    // trigger row; Completed on the first row past the post-trigger time, which is left out of
    // the capture.
    Event add(const ScopeRow& row);
    // Waits for the next trigger after a completed capture; that capture stays the one shown
    // until the next trigger.
    void rearm();

    // The capture in progress, else the last completed one; empty before the first trigger.
    const std::vector<ScopeRow>& capture() const { return capture_; }
    // Run time of the trigger row of that capture.
    double triggerSeconds() const { return triggerSeconds_; }
    // Run time at which the capture in progress is whole.
    double captureEnd() const { return triggerSeconds_ + setup_.postSeconds; }
    // Run time of the row that armed the trigger.
    double armedSeconds() const { return armedSeconds_; }
    // Run time of the row that completed the last capture.
    double completedSeconds() const { return completedSeconds_; }
    std::uint64_t triggers() const { return triggers_; }
    // The rows of the recent past at their run times, oldest first.
    const std::deque<ScopeRow>& history() const { return history_; }

  private:
    void keep(const ScopeRow& row);
    void trigger(const ScopeRow& row);

    TriggerSetup setup_;
    double historySeconds_;
    State state_ = State::Filling;
    std::deque<ScopeRow> history_;
    std::vector<ScopeRow> capture_;
    std::optional<double> firstSeconds_;
    std::optional<double> lastValue_;
    double triggerSeconds_ = 0;
    double armedSeconds_ = 0;
    double completedSeconds_ = 0;
    std::uint64_t triggers_ = 0;
};

}  // namespace vindelor::registers
