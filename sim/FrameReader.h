#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/DeviceModel.h"

namespace vindelor::sim {

// A register-protocol request as the device receives it: the letter three times, the
// destination pair, body pairs and the trailer 0xAA 0xAA.
struct Frame {
    std::uint8_t letter = 0;
    std::uint8_t destination = 0;
    std::vector<std::uint8_t> body;  // the first byte of every body pair
};

// Finds request frames in the byte stream, as a device's receiver would. Body pairs are always
// complemented, so the trailer (AA AA) cannot be mistaken for a pair (AA 55). A broken frame is
// dropped and the search starts again at the byte after its first letter; a gap of more than
// kGapMs inside a frame drops it too.
class FrameReader {
public:
    static constexpr int kGapMs = 100;
    static constexpr std::size_t kMaxBody = 600;

    std::optional<Frame> push(std::uint8_t b, Clock::time_point at);

private:
    std::vector<std::uint8_t> buffer_;
    Clock::time_point last_ {};
};

}  // namespace vindelor::sim
