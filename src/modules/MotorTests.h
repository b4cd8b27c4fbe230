#pragma once

#include <cstdint>
#include <vector>

#include "protocol/Notifier.h"
#include "protocol/Sender.h"

namespace vindelor::modules {

// The two timer-driven motor tests of the "BigVx" tab, without their timers: the break test
// switches register 2 between 3 and 0, the manual rotation sets register 2 to 7 and steps
// register 176. Every write is the register write with a 4-byte value.

constexpr int kBreakTestIntervalMs = 500;
constexpr std::uint8_t kModeRegister = 2;
constexpr std::int32_t kBreakTestToggle = 3;
constexpr std::int32_t kRotateMode = 7;
constexpr std::int32_t kStopMode = 0;
constexpr std::uint8_t kRotateRegister = 176;
constexpr std::int32_t kRotateModulo = 1143;

constexpr int kIncrementStart = 5;
constexpr int kIncrementMin = 0;
constexpr int kIncrementMax = 100;
constexpr int kIntervalStartMs = 100;
constexpr int kIntervalMinMs = 15;
constexpr int kIntervalMaxMs = 500;

// Register write with a 4-byte value: 'R' header, register pair, 4, four value pairs.
void WriteRegister4(protocol::Sender& sender, std::uint8_t registerNumber, std::int32_t value);

// The break test's value lives as long as the program: 3, 0, 3, ... from the first tick on,
// carried over from one run to the next.
class BreakTest {
public:
    // One tick: the next value, written to register 2.
    void Tick(protocol::Sender& sender);
    std::int32_t Value() const { return value_; }

private:
    std::int32_t value_ = 0;
};

// The rotation total lives as long as the program too; a new run continues from it.
class Rotation {
public:
    // "Start manual rotate": register 2 = 7.
    static void Start(protocol::Sender& sender);
    // One tick: the total grows by the increment and register 176 gets it modulo 1143.
    // Returns the value written.
    std::int32_t Tick(protocol::Sender& sender, protocol::Notifier& notifier, int increment);
    // "Stop rotate": register 2 = 0.
    static void Stop(protocol::Sender& sender);
    // The bytes of that write to a device address, for a writer that cannot use a sender
    // (a crash handler).
    static std::vector<std::uint8_t> StopFrame(int address);
    std::int32_t Total() const { return total_; }

private:
    std::int32_t total_ = 0;
};

}  // namespace vindelor::modules
