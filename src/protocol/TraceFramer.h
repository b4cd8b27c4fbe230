#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vindelor::protocol {

// Which way bytes went on the line, as a traffic trace shows them.
enum class TraceDirection { Tx, Rx };

const char* TraceDirectionName(TraceDirection direction);  // "TX" / "RX"

// One frame of a traffic trace: the bytes as the protocol delimits them, the time its first
// byte was seen (microseconds since the trace began) and a one-line decoding.
struct TraceFrame {
    std::int64_t micros = 0;
    TraceDirection direction = TraceDirection::Tx;
    std::vector<std::uint8_t> bytes;
    std::string text;
};

// A one-line decoding of bytes that form one frame, or "noise N bytes" (received) / "data N
// bytes" (sent) for bytes that are no frame the tool knows. Register-protocol frames (the
// letter three times, complemented pairs, the trailer) and bootloader frames (0xA0 + command,
// count, data, checksum) are recognised in both directions.
std::string DescribeTraceFrame(TraceDirection direction, std::span<const std::uint8_t> bytes);

// Cuts the byte stream of one direction into frames. Bytes are added as they arrive; a frame
// is handed out as soon as its last byte is in. Bytes that cannot start a frame are gathered
// into one noise line until a frame begins. Whatever waits for more when the line falls
// silent for kGapMicros, or when the trace ends (flush), goes out as it is.
class TraceFramer {
public:
    static constexpr std::int64_t kGapMicros = 100'000;  // the longest gap inside a reply
    static constexpr std::size_t kMaxNoiseLine = 64;     // bytes per noise line at most

    explicit TraceFramer(TraceDirection direction) : direction_(direction) {}

    // Bytes seen at the given time; finished frames are appended to out.
    void add(std::int64_t micros, std::span<const std::uint8_t> bytes, std::vector<TraceFrame>& out);
    // Hands out every waiting byte.
    void flush(std::vector<TraceFrame>& out);
    bool idle() const { return pending_.empty() && noise_.empty(); }

private:
    void scan(bool final, std::vector<TraceFrame>& out);
    void emitFrame(std::vector<std::uint8_t> bytes, std::int64_t micros, std::vector<TraceFrame>& out);
    void emitNoise(std::vector<TraceFrame>& out);

    TraceDirection direction_;
    std::vector<std::uint8_t> pending_;
    std::vector<std::int64_t> times_;  // arrival time of each pending byte
    std::vector<std::uint8_t> noise_;
    std::int64_t noiseTime_ = 0;
    std::int64_t lastMicros_ = 0;
};

}  // namespace vindelor::protocol
