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
    // Bytes the device sends on its own some time after a reply (the end of an erase, say).
    struct LaterOutput {
        int delayMs = 0;  // after the bytes queued before it
        std::vector<std::uint8_t> bytes;
        // Sent delayMs from now instead, behind whatever is on the line then: the device goes
        // on answering meanwhile (an erase that runs on its own, a reply held up somewhere).
        bool meanwhile = false;
    };

    virtual ~DeviceModel() = default;
    virtual void onByte(std::uint8_t b, Clock::time_point at, std::vector<std::uint8_t>& reply) = 0;

    // The device's own line rate, for a device that changes it (a bootloader told to switch);
    // 0 when it talks at whatever rate the port is set to emulate.
    virtual int lineRate() const { return 0; }
    // Bytes the tool sends at a rate other than the device's own line rate arrive garbled and
    // are dropped before the device, unless it wants to see them (a bootloader that falls
    // back to its first rate after a run of garbled bytes).
    virtual bool hearsGarbled() const { return false; }
    // A device that always takes the tool's bytes at its own line rate (see SimPort's paced
    // input), whatever the port is set to emulate: the tool's writes then last their line time.
    virtual bool pacesInput() const { return false; }
    // The rate the tool's end of the line is set to, told before the bytes read with it.
    virtual void onToolRate(int /*baud*/) {}
    // Output to send later, taken once after each onByte.
    virtual std::vector<LaterOutput> takeLaterOutput() { return {}; }
};

}  // namespace vindelor::sim
