#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/DeviceModel.h"

namespace vindelor::sim {

// A module in one of the four loader modes, from the running firmware through its bootloader.
//
// The firmware listens at 19200 baud for its reset request (the reset command three times, the
// destination pair 0xFF 0x00, 0xAA); the bootloader then starts at its mode's rate and waits
// for the wake pattern (0xFF and the wake byte in turns), answers the ready byte and takes
// command frames: 0xA0 + c, a count, the data and a checksum that makes the sum 0. It answers
// ping, identify, set baud rate (modes 2 and 3 only; then it talks at the new rate), erase
// (modes 2 and 3 report the end of the erase after the erase time, and answer other commands
// meanwhile), data blocks and, in mode 1
// only, EPP blocks (checked as the real one does: the CRC-16 in the last two bytes, or in mode
// 2 the CRC-32/JAMCRC trailer; the first status says the block arrived, the second whether it
// was written: 0, or 2 for a bad check) and the end command, after which the new firmware
// runs. A command the mode does not know gets no answer.
//
// It recovers only as the device does. The running firmware takes no wake pattern: only its
// reset request, or a power cycle (powerCycle(), the engineer doing what "Please turn off/on
// the motor" asks), starts the bootloader. Bytes sent at a rate other than the device's are
// lost as framing errors, and a bootloader switched to a faster rate stays there until it is
// turned off and on; a bootloader that has answered its ready byte takes commands and no
// further wake pattern.
class Bootloader : public DeviceModel {
public:
    static constexpr int kDefaultEraseMs = 20;

    struct Config {
        int mode = 0;
        std::uint16_t version = 0x0102;
        std::int8_t revision = 10;
        std::uint8_t hardware = 0;
        std::uint8_t resetCommand = 0x56;  // the running firmware's reset command; 0 for none
        int eraseTimeMs = kDefaultEraseMs;  // modes 2 and 3: from the erase reply to its end status
        bool startInBootloader = false;    // already waiting for commands (a former update failed)
    };

    // A block as it arrived.
    struct Block {
        int command = 0;                 // 1 flash, 10 EPP
        std::uint32_t address = 0;
        std::vector<std::uint8_t> data;  // without the CRC-32 trailer of mode 2
        int transferStatus = 0;
        int writeStatus = 0;
    };
    // A command frame as it arrived.
    struct Command {
        int command = 0;
        std::vector<std::uint8_t> data;
    };

    static constexpr int kFirmwareBaud = 19200;
    static constexpr std::array<int, 9> kBaudTable = {2400,   9600,   19200,  38400, 57600,
                                                      115200, 230400, 460800, 921600};

    explicit Bootloader(Config config);
    // The settings of a loader mode as an image header gives them (reset command by mode and
    // hardware code, the start rate, wake and ready byte).
    static Config ForMode(int mode, std::uint8_t hardware = 0);

    void onByte(std::uint8_t b, Clock::time_point at, std::vector<std::uint8_t>& reply) override;
    int lineRate() const override;
    void onToolRate(int baud) override;
    bool hearsGarbled() const override { return true; }
    std::vector<LaterOutput> takeLaterOutput() override;

    // Faults on demand. Blocks count from 0 over every data and EPP block (the line test's too),
    // replies per command from 0 (status replies as command 4).
    void setBlockStatus(int block, int transferStatus, int writeStatus);
    void loseReply(int command, int occurrence);
    void corruptReplyChecksum(int command, int occurrence);
    // That reply leaves ms late (and the rest of the same answer with it); the device goes on
    // answering later commands meanwhile, so the late reply comes among their answers.
    void delayReply(int command, int occurrence, int ms);
    // That reply is held back and sent right after the answer to the next `releasedAfter`
    // command: it comes too late for its own command, among the answers to later ones.
    void holdReply(int command, int occurrence, int releasedAfter);
    // Ors these bits into the count byte of every reply.
    void setCountHighBits(std::uint8_t bits);
    // Answers nothing at all until powerCycle().
    void setSilent(bool silent);
    // Off and on: the bootloader starts again at its first rate and waits for the wake pattern.
    void powerCycle();
    int powerCycles() const;

    // What it was sent.
    std::vector<Block> blocks() const;
    std::vector<Command> commands() const;
    std::vector<int> erasedBlocks() const;
    // Written flash, by address.
    std::map<std::uint32_t, std::vector<std::uint8_t>> flash() const;
    int resetRequests() const;
    // Bytes it has sent, and reply frames among them (the ready byte is no frame).
    std::size_t bytesSent() const;
    int framesSent() const;
    int wakeUps() const;
    bool ended() const;
    // The firmware runs (no bootloader is waiting for the wake pattern or for commands).
    bool runningFirmware() const;
    int rate() const;
    int startRate() const;

private:
    enum class State { Firmware, Listening, Idle, Frame, Data };

    void handleByte(std::uint8_t b, std::vector<std::uint8_t>& reply);
    bool watchPattern(std::uint8_t b);
    void watchReset(std::uint8_t b);
    void handleFrame(std::vector<std::uint8_t>& reply);
    void answerFrame(std::vector<std::uint8_t>& reply);
    void finishBlock(std::vector<std::uint8_t>& reply);
    void appendReply(std::vector<std::uint8_t>& out, int command, std::vector<std::uint8_t> data);
    // Sends bytes now, or after delayMs behind what is queued; once anything of this byte's
    // answer waits, the rest waits behind it, so the order stays.
    void sendOut(std::vector<std::uint8_t>& out, std::vector<std::uint8_t> bytes, int delayMs);
    void enterBootloader();

    mutable std::mutex mutex_;
    Config config_;
    std::uint8_t wake_ = 0;
    std::uint8_t ready_ = 0;
    int startRate_ = 0;
    State state_ = State::Firmware;
    int rate_ = kFirmwareBaud;
    int pendingRate_ = 0;  // takes effect once the reply at the old rate has been queued
    int toolRate_ = 0;
    int patternRun_ = 0;
    int resetIndex_ = 0;
    bool silent_ = false;
    bool deferred_ = false;  // part of the current byte's answer waits in later_
    int deferredMs_ = 0;     // how long it waits; the rest of the answer waits as long
    // The frame being read.
    int frameCommand_ = 0;
    int frameCount_ = -1;
    std::vector<std::uint8_t> frameData_;
    // The block being read.
    Block block_;
    std::size_t blockExpected_ = 0;
    std::vector<std::uint8_t> blockBytes_;
    int blockCount_ = 0;
    std::map<int, std::pair<int, int>> blockFaults_;
    std::map<int, int> repliesSent_;
    std::map<std::pair<int, int>, bool> lostReplies_;
    std::map<std::pair<int, int>, bool> corruptReplies_;
    std::map<std::pair<int, int>, int> delayedReplies_;
    std::map<std::pair<int, int>, int> heldReplies_;        // reply -> the command releasing it
    std::map<int, std::vector<std::uint8_t>> held_;         // releasing command -> frames
    std::uint8_t countHighBits_ = 0;
    std::vector<LaterOutput> later_;
    // Records.
    std::vector<Block> blocks_;
    std::vector<Command> commands_;
    std::vector<int> erased_;
    std::map<std::uint32_t, std::vector<std::uint8_t>> flash_;
    int resetRequests_ = 0;
    std::size_t bytesSent_ = 0;
    int framesSent_ = 0;
    int wakeUps_ = 0;
    int powerCycles_ = 0;
    bool ended_ = false;
};

}  // namespace vindelor::sim
