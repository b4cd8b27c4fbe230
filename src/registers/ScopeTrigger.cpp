#include "registers/ScopeTrigger.h"

#include <algorithm>
#include <cctype>

#include "util/Number.h"
#include "util/Text.h"

namespace vindelor::registers {

bool CrossesLevel(TriggerEdge edge, double level, double before, double after) {
    // Comparisons with NaN are false, so a channel without a number never triggers.
    if (edge == TriggerEdge::Rising) return before < level && after >= level;
    return before > level && after <= level;
}

namespace {

// Built by appending: GCC 12 at -O3 sees a false overlap in "\"" + std::string(...).
std::string Quoted(std::string_view text) {
    std::string out(1, '"');
    out.append(text);
    out.push_back('"');
    return out;
}

}  // namespace

std::optional<TriggerText> ParseTriggerText(std::string_view text, std::string& error) {
    const auto at = text.find_first_of("<>");
    if (at == std::string_view::npos) {
        error = Quoted(text) + " is not NAME>LEVEL (rising) or NAME<LEVEL (falling)";
        return std::nullopt;
    }
    TriggerText out;
    out.channel = std::string(util::Trimmed(text.substr(0, at)));
    out.edge = text[at] == '>' ? TriggerEdge::Rising : TriggerEdge::Falling;
    if (out.channel.empty()) {
        error = "the trigger " + Quoted(text) + " names no channel";
        return std::nullopt;
    }
    const auto level = util::ParseDouble(util::Trimmed(text.substr(at + 1)));
    if (!level) {
        error = "the trigger level in " + Quoted(text) + " is not a number";
        return std::nullopt;
    }
    out.level = *level;
    return out;
}

int FindScopeChannel(const std::array<ScopeChannel, kScopeChannels>& channels,
                     std::string_view name) {
    auto same = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::toupper(static_cast<unsigned char>(x)) ==
                          std::toupper(static_cast<unsigned char>(y));
               });
    };
    for (int c = 0; c < kScopeChannels; ++c)
        if (same(channels[static_cast<std::size_t>(c)].name, name)) return c;
    for (int c = 0; c < kScopeChannels; ++c)
        if (name == std::to_string(c + 1)) return c;
    return -1;
}

ScopeTrigger::ScopeTrigger(const TriggerSetup& setup, double historySeconds)
    : setup_(setup), historySeconds_(std::max(historySeconds, setup.preSeconds)) {}

ScopeTrigger::Event ScopeTrigger::add(const ScopeRow& row) {
    const double value = row.values[static_cast<std::size_t>(setup_.channel)];
    const auto before = lastValue_;
    lastValue_ = value;
    if (!firstSeconds_) firstSeconds_ = row.seconds;
    keep(row);

    if (state_ == State::Capturing) {
        if (row.seconds - triggerSeconds_ > setup_.postSeconds + kTimeFuzz) {
            state_ = State::Done;
            completedSeconds_ = row.seconds;
            return Event::Completed;
        }
        ScopeRow relative = row;
        relative.seconds -= triggerSeconds_;
        capture_.push_back(relative);
        return Event::None;
    }
    if (state_ == State::Filling && row.seconds - *firstSeconds_ >= setup_.preSeconds - kTimeFuzz) {
        state_ = State::Armed;
        armedSeconds_ = row.seconds;
    }
    if (state_ == State::Armed && before &&
        CrossesLevel(setup_.edge, setup_.level, *before, value)) {
        trigger(row);
        return Event::Triggered;
    }
    return Event::None;
}

void ScopeTrigger::rearm() {
    if (state_ != State::Done) return;
    // The rows taken meanwhile are the next capture's history: it has been whole ever since the
    // first arming.
    state_ = State::Armed;
    armedSeconds_ = history_.empty() ? completedSeconds_ : history_.back().seconds;
}

void ScopeTrigger::keep(const ScopeRow& row) {
    history_.push_back(row);
    // One row at or before the start of the history time stays, so that a capture covers its
    // pre-trigger time whole, however long the gap between two rows there.
    while (
        history_.size() > kMaxHistoryRows ||
        (history_.size() >= 2 && row.seconds - history_[1].seconds >= historySeconds_ - kTimeFuzz))
        history_.pop_front();
}

void ScopeTrigger::trigger(const ScopeRow& row) {
    state_ = State::Capturing;
    triggerSeconds_ = row.seconds;
    ++triggers_;
    capture_.clear();
    // From the last row at or before the start of the pre-trigger time.
    auto first = std::upper_bound(history_.begin(), history_.end(),
                                  row.seconds - setup_.preSeconds + kTimeFuzz,
                                  [](double t, const ScopeRow& r) { return t < r.seconds; });
    if (first != history_.begin()) --first;
    for (auto it = first; it != history_.end(); ++it) {
        ScopeRow relative = *it;
        relative.seconds -= triggerSeconds_;
        capture_.push_back(relative);
    }
}

}  // namespace vindelor::registers
