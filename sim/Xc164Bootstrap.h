#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "sim/DeviceModel.h"
#include "sim/FlashBootloader.h"

namespace vindelor::sim {

// The XC164's on-chip bootstrap loader in front of a flash bootloader: it waits for 0x00, whose
// bit time it measures (the loader runs at whatever rate that byte came at, and so does
// everything loaded after it), and answers its identification 0xD5 (after a 0x00 when asked
// to); it takes exactly 32 bytes of code, then as many bytes as the code's offsets say (start
// in bytes 2-3, last in bytes 22-23, low byte first). The loaded code waits for the wake byte
// 0x7C, answers it with 0x7A once, and from then on the flash bootloader takes every byte.
class Xc164Bootstrap : public DeviceModel {
public:
    static constexpr std::uint8_t kIdentification = 0xD5;
    static constexpr std::uint8_t kStarted = 0x7A;
    static constexpr std::uint8_t kWake = 0x7C;
    static constexpr std::size_t kCodeSize = 32;

    explicit Xc164Bootstrap(std::shared_ptr<FlashBootloader> bootloader);

    void onByte(std::uint8_t b, Clock::time_point at, std::vector<std::uint8_t>& reply) override;
    // Before the 0x00 the loader hears any rate; afterwards it keeps the one it measured.
    int lineRate() const override;
    void onToolRate(int baud) override;

    // Answer 0x00 before the identification.
    void setLeadingZero(bool on);
    std::vector<std::uint8_t> code() const;
    std::vector<std::uint8_t> secondStage() const;
    // The loaded code runs (it may still wait for its wake byte).
    bool started() const;
    FlashBootloader& bootloader() { return *bootloader_; }

private:
  enum class State { WaitZero, Code, SecondStage, WaitWake, Running };

  mutable std::mutex mutex_;
  std::shared_ptr<FlashBootloader> bootloader_;
  State state_ = State::WaitZero;
  bool leadingZero_ = false;
  std::vector<std::uint8_t> code_;
  std::vector<std::uint8_t> stage_;
  std::size_t stageSize_ = 0;
  int toolRate_ = 0;
};

}  // namespace vindelor::sim
