#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "sim/DeviceModel.h"

namespace vindelor::sim {

// A large motor in its boot mode: it asks for new firmware with 'f' 'f' 'f' at 19200 baud and
// then listens at 57600: the firmware length (4 bytes, low first), the firmware, answered by
// its 32-bit byte sum; the verdict byte (0x33 good); 0x55 and the FPGA length G; when G > 0
// the start answer (0 = configuration started) and the G image bytes; and then its final
// byte. Afterwards it listens at 19200 again.
class BootModeMotor : public DeviceModel {
public:
    static constexpr int kRequestRate = 19200;
    static constexpr int kDownloadRate = 57600;
    static constexpr std::uint8_t kFinalByte = 0x01;

    void onByte(std::uint8_t b, Clock::time_point at, std::vector<std::uint8_t>& reply) override;
    int lineRate() const override;
    // The motor takes the download at its line rate, so a download lasts its wire time.
    bool pacesInput() const override { return true; }

    // Arms the download and returns the request bytes for the port to send.
    std::vector<std::uint8_t> request();
    // True when the motor would ask (again): no download has run through, and none is running
    // (a request that nobody answered within kAskAgainMs counts as none).
    bool shouldAsk() const;
    static constexpr int kAskAgainMs = 500;
    // True once a download has run to the final byte.
    bool finished() const;

    // Faults: a sum that is off by this much; the start answer (-1: none at all).
    void setSumOffset(std::uint32_t offset);
    void setStartAnswer(int answer);

    std::vector<std::uint8_t> firmware() const;
    std::vector<std::uint8_t> fpga() const;
    std::uint32_t announcedFirmware() const;
    std::uint32_t announcedFpga() const;
    // The verdict byte the tool sent after the sum (-1 before it came).
    int verdict() const;

private:
    enum class State { Idle, FirmwareLength, Firmware, Verdict, Announce, FpgaLength, Fpga, Done };
    void afterFirmware(std::vector<std::uint8_t>& reply);
    void afterFpgaLength(std::vector<std::uint8_t>& reply);
    void finish(std::vector<std::uint8_t>& reply);
    static void AppendWord(std::vector<std::uint8_t>& out, std::uint32_t v);

    mutable std::mutex mutex_;
    State state_ = State::Idle;
    int rate_ = kRequestRate;
    std::vector<std::uint8_t> word_;
    std::uint32_t firmwareLength_ = 0;
    std::uint32_t fpgaLength_ = 0;
    std::vector<std::uint8_t> firmware_;
    std::vector<std::uint8_t> fpga_;
    std::uint32_t sum_ = 0;
    std::uint32_t sumOffset_ = 0;
    int startAnswer_ = 0;
    int verdict_ = -1;
    bool finished_ = false;
    Clock::time_point askedAt_ {};
};

}  // namespace vindelor::sim
