// The simulated module bootloader is no kinder than the device: it wakes only as the device
// does, never goes back to its first rate by itself, and answers only what its mode knows.
#include "sim/Bootloader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "serial/TSerCom.h"
#include "sim/SimPort.h"
#include "support/LoaderFixture.h"

namespace vindelor::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::CommandFrame;

// The tool's end of the line: bytes sent at a rate, what the device answers at once.
class Line {
  public:
    explicit Line(Bootloader& device) : device_(device) {}
    Bytes send(const Bytes& bytes, int rate) {
        device_.onToolRate(rate);
        Bytes all;
        for (auto b : bytes) {
            Bytes reply;
            device_.onByte(b, Clock::now(), reply);
            all.insert(all.end(), reply.begin(), reply.end());
        }
        return all;
    }

  private:
    Bootloader& device_;
};

Bytes WakePattern(std::uint8_t wake) {
    Bytes p;
    for (int k = 0; k < 16; ++k) p.insert(p.end(), {0xFF, wake});
    return p;
}

Bytes Reply(int c, const Bytes& data = {}) {
    return CommandFrame(c, data);
}

// The running firmware takes no wake pattern, whatever its reset command: only its reset
// request or a power cycle starts the bootloader.
TEST(BootloaderModel, TheRunningFirmwareWakesOnlyAfterAResetOrAPowerCycle) {
    for (int mode = 0; mode <= 3; ++mode) {
        SCOPED_TRACE(::testing::Message() << "mode " << mode);
        auto config = Bootloader::ForMode(mode, 1);  // mode 3 with hardware 1: no reset command
        Bootloader device(config);
        Line line(device);
        const Bytes pattern = WakePattern(static_cast<std::uint8_t>(0x4C + 0x10 * mode));
        EXPECT_TRUE(line.send(pattern, device.startRate()).empty());
        EXPECT_TRUE(line.send(pattern, Bootloader::kFirmwareBaud).empty());
        EXPECT_TRUE(device.runningFirmware());
        device.powerCycle();
        const Bytes ready = line.send(pattern, device.startRate());
        ASSERT_FALSE(ready.empty());
        EXPECT_EQ(device.wakeUps(), 1);
    }
}

// A bootloader switched to 57600 stays there whatever comes at 19200; only a power cycle
// brings back its first rate. Once awake it takes commands, and no wake pattern again.
TEST(BootloaderModel, ASwitchedRateStaysUntilThePowerCycle) {
    auto config = Bootloader::ForMode(3, 5);
    config.startInBootloader = true;
    Bootloader device(config);
    Line line(device);
    EXPECT_EQ(line.send(CommandFrame(11, {4}), 19200), Reply(11));
    const Bytes ping = CommandFrame(0);
    EXPECT_EQ(line.send(ping, 57600), Reply(0));
    for (int k = 0; k < 50; ++k) EXPECT_TRUE(line.send(ping, 19200).empty());
    EXPECT_EQ(device.rate(), 57600);
    EXPECT_TRUE(line.send(WakePattern(0x7C), 57600).empty());
    device.powerCycle();
    EXPECT_EQ(device.rate(), 19200);
    EXPECT_EQ(line.send(WakePattern(0x7C), 19200).front(), 0x7A);
    EXPECT_EQ(line.send(ping, 19200), Reply(0));
}

// An EPP announce outside mode 1 and a baud switch outside modes 2 and 3 get no answer.
TEST(BootloaderModel, CommandsTheModeDoesNotKnowGetNoAnswer) {
    struct Case {
        int mode;
        Bytes frame;
        bool answered;
    };
    const Case cases[] = {
        {0, CommandFrame(10, {0, 0x10, 0, 2}), false},
        {2, CommandFrame(10, {0, 0x10, 0, 2}), false},
        {3, CommandFrame(10, {0, 0x10, 0, 2}), false},
        {1, CommandFrame(10, {0, 0x10, 0, 2}), true},
        {0, CommandFrame(11, {4}), false},
        {1, CommandFrame(11, {4}), false},
        {2, CommandFrame(11, {4}), true},
        {3, CommandFrame(11, {4}), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "mode " << c.mode << " command " << int(c.frame[0] - 0xA0));
        auto config = Bootloader::ForMode(c.mode);
        config.startInBootloader = true;
        Bootloader device(config);
        Line line(device);
        const Bytes reply = line.send(c.frame, device.startRate());
        EXPECT_EQ(!reply.empty(), c.answered);
        if (!c.answered) {
            EXPECT_TRUE(line.send(CommandFrame(0), device.startRate()) ==
                        Reply(0));  // still at its rate
        }
    }
}

// Modes 2 and 3 report the end of an erase after the erase time, and answer meanwhile.
TEST(BootloaderModel, TheEraseEndsAfterItsTimeWhileCommandsAreAnswered) {
    for (int mode : {2, 3}) {
        auto config = Bootloader::ForMode(mode);
        config.startInBootloader = true;
        config.eraseTimeMs = 600;
        Bootloader device(config);
        Line line(device);
        EXPECT_EQ(line.send(CommandFrame(2, {1}), 19200), Reply(2, {0}));
        const auto later = device.takeLaterOutput();
        ASSERT_EQ(later.size(), 1u);
        EXPECT_EQ(later[0].delayMs, 600);
        EXPECT_TRUE(later[0].meanwhile);
        EXPECT_EQ(later[0].bytes, Reply(4, {0}));
        EXPECT_EQ(line.send(CommandFrame(0), 19200), Reply(0));
    }
}

// What the tool wrote has left the driver for the line once the simulator has taken it, and a
// reopen of the port (which empties the driver's queues) cannot take it back: the device gets
// every byte, at the line's pace, so nothing runs faster than the line allows. Replies leave
// --reply-delay-ms late.
TEST(BootloaderModel, PacedInputSurvivesAReopenAndRepliesLeaveLate) {
    auto config = Bootloader::ForMode(2);
    config.startInBootloader = true;
    auto device = std::make_shared<Bootloader>(config);
    SimPort sim(device);
    sim.setBaudRate(19200);
    sim.setPaceInput(true);
    sim.setResponseDelayMs(300);
    serial::TSerCom port(sim.slavePath(), 19200, 8000);
    port.Open();
    const Bytes filler(2000, 0x55);  // about a second on the line
    port.SendString(filler.data(), static_cast<int>(filler.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    port.Open();
    EXPECT_LT(sim.received().size(), filler.size() / 2);  // still on its way
    const Bytes ping = CommandFrame(0);
    port.SendString(ping.data(), static_cast<int>(ping.size()));
    ASSERT_TRUE(sim.waitReceived(filler.size() + ping.size(), 3000));
    EXPECT_EQ(port.ReadByteWithin(200), -1);  // not yet: 300 ms late
    EXPECT_EQ(port.WaitByte(2000), 0xA0);
    EXPECT_EQ(device->commands().size(), 1u);
}

}  // namespace
}  // namespace vindelor::sim
