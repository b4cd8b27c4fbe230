#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace vindelor::serial {

// Bits a byte takes on the line: start bit, 8 data bits, stop bit.
constexpr int kBitsPerByte = 10;

// The time the line needs to carry count bytes at baud bits per second (an unknown rate of 0
// counts as 9600, the slowest rate the tool uses).
constexpr std::chrono::nanoseconds LineTime(std::size_t count, std::uint32_t baud) {
    constexpr std::uint32_t kFallbackBaud = 9600;
    const auto rate = static_cast<std::int64_t>(baud ? baud : kFallbackBaud);
    return std::chrono::nanoseconds(static_cast<std::int64_t>(count) * kBitsPerByte * 1'000'000'000LL / rate);
}

// The longest a device takes from the end of a request to the start of its reply, an adapter's
// hand-on included: a second answer to the same request (another device at the address, a
// reply sent twice) starts within it of the first one's end.
constexpr std::chrono::milliseconds kReplyTurnaround {3};

// How long the line must stay quiet after a reply of count bytes before it counts as the only
// answer: the reply's own line time (a second one that started with it and waited for the line)
// and a turnaround.
constexpr std::chrono::nanoseconds QuietAfterReply(std::size_t count, std::uint32_t baud) {
    return LineTime(count, baud) + kReplyTurnaround;
}

// The same, rounded up to whole milliseconds.
constexpr std::chrono::milliseconds LineTimeMs(std::size_t count, std::uint32_t baud) {
    return std::chrono::ceil<std::chrono::milliseconds>(LineTime(count, baud));
}

}  // namespace vindelor::serial
