#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "sim/DeviceModel.h"

namespace vindelor::sim {

// The large motor's flash bootloader: frames of header 0xA0 + command, count, data and a
// checksum, answered in the same shape.
//
//   ping (A0)            -> A0 00 60
//   write (A1, addr, len)-> A1 00 5F; then len data bytes and their CRC-16 (high first) are
//                           written to the flash, answered by the status frame A4 01 st cs
//                           twice (status 0 good, 1 bad CRC). A length of 258 is the address
//                           probe instead: no data follows, and the start and end values of
//                           the address come back at once.
//   erase (A2, sector)   -> A2 00 5E, the 8 KiB sector set to 0xFF, status A4 01 00 5B
//   read (A3, addr, len) -> A3 00 5D (the empty reply), len bytes of flash, status A4 01 00 5B
//   baud (AB, index)     -> AB 00 55, then the line runs at the index's rate
//   a bad checksum       -> status A4 01 01 5A
//
// Beside the frames, the boot monitor's flash write: 'D' (answered by four bytes), 'F'
// (erase), 'G' and then the 4096 bytes of the flash file. Other bytes (the wake bytes) are
// ignored between frames.
//
// The boot monitor keeps time as the device does (FlashTimes): its answer to 'D' leaves a
// while after it, the erase after 'F' lasts its time, during which every byte is lost, 'G'
// needs a moment before the data, and the pairs of the file are programmed one after the other
// while a small receive buffer holds what comes meanwhile; a byte that finds it full is lost.
// Lost bytes are counted (lostBytes), so a tool that does not keep the pauses ends with a short
// flash file.
class FlashBootloader : public DeviceModel {
public:
    static constexpr std::uint32_t kFlashBase = 0xC00000;
    static constexpr std::uint32_t kFlashSize = 0x20000;
    static constexpr std::uint32_t kSectorSize = 0x2000;
    static constexpr std::uint16_t kProbeLength = 258;
    static constexpr std::size_t kFlashFileSize = 4096;
    static constexpr int kRates[] = {9600, 19200, 28800, 38400, 57600, 115200};

    // How long the boot monitor is busy; the tool's pauses (100 ms, 11 s, 100 ms, 1 ms) cover them.
    struct FlashTimes {
        int answerMs = 30;        // from 'D' to its answer
        int eraseMs = 10000;      // from 'F' until the next byte is taken
        int goSetupMs = 50;       // from 'G' until the first data byte is taken
        int pairProgramUs = 800;  // programming one pair, one after the other
        // Received bytes held while earlier pairs are programmed; one more is lost. The
        // simulator sees bytes when it wakes, so a late wake-up bunches pairs that came 1 ms
        // apart: this absorbs 25 ms of that, while a tool without its pauses (a pair every
        // 0.35 ms at 57600, or all at once) still overruns it within 70 pairs.
        std::size_t fifoBytes = 64;
    };

    FlashBootloader();

    void onByte(std::uint8_t b, Clock::time_point at, std::vector<std::uint8_t>& reply) override;
    int lineRate() const override;

    // Set-up and inspection; safe while the device runs.
    void setLineRate(int baud);
    void setTimes(const FlashTimes& times);
    // Bytes that arrived while the boot monitor was busy (erasing, setting up, programming).
    std::size_t lostBytes() const;
    // The start value of an address is the number of these addresses at or below it; the end
    // value the same for the probe's last byte (address + 257).
    void setSectorStarts(std::vector<std::uint32_t> starts);
    // After this many read commands, the device answers no more of them (-1: always answers).
    void setSilentAfterReads(int reads);
    std::vector<std::uint8_t> flash() const;
    // Every frame taken (header, count, data, checksum), in order.
    std::vector<std::vector<std::uint8_t>> frames() const;
    std::vector<std::uint32_t> readAddresses() const;
    std::vector<std::uint32_t> probedAddresses() const;
    // The boot monitor's flash write: the 4096 bytes after 'G', and whether 'F' came first.
    std::vector<std::uint8_t> flashFile() const;
    bool flashFileErased() const;

private:
    enum class State { Idle, Count, Data, Checksum, WriteData, FlashFile };
    void handleFrame(std::vector<std::uint8_t>& reply);
    static void Status(std::vector<std::uint8_t>& reply, std::uint8_t status);
    int valueAt(std::uint32_t address) const;

    mutable std::mutex mutex_;
    int rate_ = 19200;
    State state_ = State::Idle;
    std::vector<std::uint8_t> frame_;
    std::size_t need_ = 0;
    std::uint32_t writeAddress_ = 0;
    std::vector<std::uint8_t> writeData_;
    std::vector<std::uint8_t> flash_;
    std::vector<std::uint32_t> starts_ {0xC00000, 0xC08000, 0xC10000, 0xC20000};
    int silentAfterReads_ = -1;
    std::vector<std::vector<std::uint8_t>> frames_;
    std::vector<std::uint32_t> reads_;
    std::vector<std::uint32_t> probes_;
    std::vector<std::uint8_t> flashFile_;
    bool erasedForFile_ = false;
    FlashTimes times_;
    Clock::time_point busyUntil_{};
    Clock::time_point programmedUntil_{};
    std::size_t lost_ = 0;
    std::vector<LaterOutput> later_;

  public:
    std::vector<LaterOutput> takeLaterOutput() override;
};

// Appends a bootloader frame with its checksum.
void AppendBootFrame(std::vector<std::uint8_t>& out, std::uint8_t header, const std::vector<std::uint8_t>& data);

}  // namespace vindelor::sim
