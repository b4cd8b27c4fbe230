#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vindelor::serial {

// Sees every byte a port writes and reads, in the order the calls happen, for a traffic trace.
// The port calls it from whichever thread uses the port (the window thread writes while the
// receive thread reads), so an implementation locks what it shares. It must not throw and must
// not use the port.
class TrafficTap {
public:
    enum class Direction { Sent, Received };

    virtual ~TrafficTap() = default;
    // Bytes about to be handed to the driver (Sent) or taken from it (Received), as one block.
    virtual void traffic(Direction direction, const std::uint8_t* bytes, std::size_t count) noexcept = 0;
    // Something happened to the line: "open /dev/ttyUSB0 baud 19200", "baud 115200", "closed",
    // "hang-up", "write failed".
    virtual void lineEvent(std::string_view text) noexcept = 0;
};

}  // namespace vindelor::serial
