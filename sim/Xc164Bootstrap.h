#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "sim/DeviceModel.h"
#include "sim/FlashBootloader.h"

namespace vindelor::sim {

// The XC164's on-chip bootstrap loader in front of a flash bootloader: it waits for 0x00 and
// answers its identification 0xD5 (after a 0x00 when asked to), takes exactly 32 bytes of code,
// then as many bytes as the code's offsets say (start in bytes 2-3, last in bytes 22-23, low
// byte first). The loaded code then announces itself with 0x7A and the flash bootloader takes
// every later byte.
class Xc164Bootstrap : public DeviceModel {
public:
    static constexpr std::uint8_t kIdentification = 0xD5;
    static constexpr std::uint8_t kStarted = 0x7A;
    static constexpr std::size_t kCodeSize = 32;

    explicit Xc164Bootstrap(std::shared_ptr<FlashBootloader> bootloader);

    void onByte(std::uint8_t b, Clock::time_point at, std::vector<std::uint8_t>& reply) override;
    int lineRate() const override { return bootloader_->lineRate(); }

    // Answer 0x00 before the identification.
    void setLeadingZero(bool on);
    std::vector<std::uint8_t> code() const;
    std::vector<std::uint8_t> secondStage() const;
    bool started() const;
    FlashBootloader& bootloader() { return *bootloader_; }

private:
    enum class State { WaitZero, Code, SecondStage, Running };

    mutable std::mutex mutex_;
    std::shared_ptr<FlashBootloader> bootloader_;
    State state_ = State::WaitZero;
    bool leadingZero_ = false;
    std::vector<std::uint8_t> code_;
    std::vector<std::uint8_t> stage_;
    std::size_t stageSize_ = 0;
};

}  // namespace vindelor::sim
