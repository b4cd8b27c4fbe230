#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace vindelor::sim {

using Clock = std::chrono::steady_clock;

// A device seen from its own side of the wire: it is handed every byte the tool sends and
// appends whatever it answers.
class DeviceModel {
public:
    virtual ~DeviceModel() = default;
    virtual void onByte(std::uint8_t b, Clock::time_point at, std::vector<std::uint8_t>& reply) = 0;
    // The baud rate the device listens and talks at, or 0 for a device that takes any. Bytes
    // the tool sends at another rate arrive garbled and never reach the device.
    virtual int lineRate() const { return 0; }
};

}  // namespace vindelor::sim
