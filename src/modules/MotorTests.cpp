#include "modules/MotorTests.h"

#include "registers/ValueType.h"

namespace vindelor::modules {

namespace {
constexpr int kFourByteWords = 2;
}

void WriteRegister4(protocol::Sender& sender, std::uint8_t registerNumber, std::int32_t value) {
    sender.SendWriteRequest(registerNumber, kFourByteWords, static_cast<std::uint32_t>(value));
}

void BreakTest::Tick(protocol::Sender& sender) {
    value_ ^= kBreakTestToggle;
    WriteRegister4(sender, kModeRegister, value_);
}

void Rotation::Start(protocol::Sender& sender) { WriteRegister4(sender, kModeRegister, kRotateMode); }

std::int32_t Rotation::Tick(protocol::Sender& sender, protocol::Notifier& notifier, int increment) {
    // A signed 32-bit total that wraps after days of running instead of overflowing.
    total_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(total_) + static_cast<std::uint32_t>(increment));
    const std::int32_t value = total_ % kRotateModulo;
    registers::writeRegisterChecked(sender, notifier, kRotateRegister, value, true);
    return value;
}

void Rotation::Stop(protocol::Sender& sender) { WriteRegister4(sender, kModeRegister, kStopMode); }

std::vector<std::uint8_t> Rotation::StopFrame(int address) {
    return protocol::BuildWriteRequest(address, kModeRegister, kFourByteWords, static_cast<std::uint32_t>(kStopMode));
}

}  // namespace vindelor::modules
