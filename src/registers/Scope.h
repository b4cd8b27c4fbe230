#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/RecvThread.h"
#include "registers/Definitions.h"

namespace vindelor::registers {

constexpr int kScopeChannels = 4;

// The raw sample of a channel in the payload of a sample reply, read as the sample table reads
// it: from offset channel x 2 x wordsPerRegister, least significant byte first, four bytes for
// a two-word type and two otherwise; bytes past a short reply read as zero.
std::uint32_t sampleRaw(std::span<const std::uint8_t> data, int channel, int type, int wordsPerRegister);
// The number the sample table shows for a raw sample (the scaled value of a fixed-point type,
// the version word as a number); NaN for the placeholder type, which shows nothing.
double sampleNumber(int type, std::uint32_t raw);

struct ScopeChannel {
    std::string name;  // the register's name, trailing blanks removed; "1".."4" when unknown
    int type = 0;      // ValueType
};

struct ScopeRow {
    double seconds = 0;  // since the recording began
    std::array<double, kScopeChannels> values {};
};

// The channels that the sample selectors choose: the registers from sampleBase on hold the
// register numbers (low 16 bits) sampled into each channel.
std::array<ScopeChannel, kScopeChannels> ScopeChannelsFor(const Definitions& defs,
                                                         const std::array<std::uint32_t, kScopeChannels>& selectors);

// Every sample row of a scope run, kept whole for the export while the plot shows less.
class ScopeRecording {
public:
    std::array<ScopeChannel, kScopeChannels> channels {};
    int wordsPerRegister = 1;

    // The row of a sample reply that arrived at the given time since the run began.
    ScopeRow makeRow(double seconds, std::span<const std::uint8_t> payload) const;
    // The same, kept.
    const ScopeRow& addRow(double seconds, std::span<const std::uint8_t> payload);
    const ScopeRow& addRow(const ScopeRow& row);
    const std::vector<ScopeRow>& rows() const { return rows_; }
    void clear() { rows_.clear(); }
    // Rows per second over the recording (0 with fewer than two rows).
    double rate() const;

    // "time_s" and the register names as the header, then one line per row: the time in
    // seconds with six decimals and each channel's value, a '.' as decimal point in every
    // locale; an empty field for a placeholder channel.
    void writeCsv(std::ostream& out) const;
    // The same line by line, for output written while the run goes on.
    void writeCsvHeader(std::ostream& out) const;
    static void writeCsvRow(std::ostream& out, const ScopeRow& row);

private:
    std::vector<ScopeRow> rows_;
};

// A number in the shortest form that reads back the same, with '.' in every locale.
std::string ScopeNumber(double value);

// Paces sample requests: the next one goes out as soon as the reply to the last is in, or
// when that reply is kReplyTimeoutMs late (a lost frame must not stop the run).
class SampleLoop {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kReplyTimeoutMs = 250;

    bool due(Clock::time_point now) const { return !waiting_ || now >= deadline_; }
    // Whether a reply that came in at this time came within the time-out of the request out.
    bool inTime(Clock::time_point at) const { return waiting_ && at <= deadline_; }
    // How long until due(), for a wait that ends by itself.
    std::chrono::milliseconds untilDue(Clock::time_point now) const;
    void sent(Clock::time_point now);
    void replied(Clock::time_point now);
    // Replies per second from the first to the last (0 with fewer than two).
    double rate() const;

    std::uint64_t requests = 0;
    std::uint64_t replies = 0;
    std::uint64_t timeouts = 0;

private:
    bool waiting_ = false;
    Clock::time_point deadline_ {};
    Clock::time_point firstReply_ {};
    Clock::time_point lastReply_ {};
};

// Sample rows taken only where their reply came alone. A sample reply names nothing: a second
// device at the address, a reply that came twice or late, would stand in the stream as a row
// of the device's. So each request's window, from when it goes out to when the next one does,
// must hold its one reply and nothing else; and since a second answer to it lands in the next
// request's window, that one must hold no more than one reply and nothing stray either. A row
// waits for that; the last one for the line to stay quiet a reply's line time and a turnaround
// after the run (finish). Rows that fail are dropped: a gap, not a value of someone else's.
class AloneRows {
public:
    using Heard = protocol::RecvThread::Heard;

    // A request goes out; `heard` is the receive thread's count just before. It closes the
    // window of the request before it.
    void sent(const Heard& heard);
    // The reply to the request out now, as its row.
    void replied(const ScopeRow& row);
    // A reply that is no request's row (it came after its request's reply had been taken).
    void discard() { ++dropped_; }
    // The run is over and the line has been quiet for a reply's line time and a turnaround
    // since its last reply: `heard` closes the last window.
    void finish(const Heard& heard);
    // The rows taken since the last call, in order.
    std::vector<ScopeRow> take();
    std::uint64_t dropped() const { return dropped_; }

private:
    struct Window {
        Heard start;
        std::optional<ScopeRow> row;
        bool open = false;
    };
    // Closes the open window at `heard`: its row is decided, and the row before it.
    void close(const Heard& heard);

    Window current_;
    std::optional<ScopeRow> held_;  // the row before, clean in its own window
    std::vector<ScopeRow> taken_;
    std::uint64_t dropped_ = 0;
};

}  // namespace vindelor::registers
