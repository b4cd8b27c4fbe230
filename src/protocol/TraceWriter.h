#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/TraceFramer.h"
#include "serial/TrafficTap.h"

namespace vindelor::protocol {

// Writes a traffic trace file (format in TraceFile.h) from what a port's tap sees: every
// byte sent and received, cut into frames, with the time since the trace began by the
// monotonic clock. Each line is written out as soon as its frame is complete, so a trace
// survives a crash or an unplugged adapter up to its last frame. Thread-safe.
class TraceWriter : public serial::TrafficTap {
public:
    using Clock = std::chrono::steady_clock;

    // Creates (or empties) the file and writes the header; nothing, with the reason in error,
    // when the file cannot be written. The description ("port /dev/ttyUSB0 baud 19200")
    // goes into the header when not empty.
    static std::unique_ptr<TraceWriter> Create(const std::string& path, const std::string& description,
                                               std::string& error);
    ~TraceWriter() override;

    void traffic(Direction direction, const std::uint8_t* bytes, std::size_t count) noexcept override;
    void lineEvent(std::string_view text) noexcept override;

    // Writes out the bytes that have waited for the rest of a frame longer than a reply may
    // pause (call it now and then when the line may fall silent mid-frame).
    void flushStale() noexcept;
    // Writes out everything that waits and closes the file; later traffic is ignored.
    void finish() noexcept;

    const std::string& path() const { return path_; }
    // A write to the file failed (disk full, the medium removed): the trace is incomplete.
    bool failed() const;

private:
    TraceWriter(std::FILE* file, std::string path);
    std::int64_t now() const;
    void flushStaleLocked(std::int64_t now);  // mutex_ held
    void writeFrames();                       // mutex_ held
    void writeLine(const std::string& line);  // mutex_ held

    mutable std::mutex mutex_;
    std::FILE* file_;
    std::string path_;
    Clock::time_point start_;
    TraceFramer tx_ {TraceDirection::Tx};
    TraceFramer rx_ {TraceDirection::Rx};
    std::int64_t lastTx_ = 0;
    std::int64_t lastRx_ = 0;
    std::vector<TraceFrame> ready_;
    bool failed_ = false;
};

}  // namespace vindelor::protocol
