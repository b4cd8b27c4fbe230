// The module firmware loader against the simulated module from its running firmware: the reset
// request, the wake pattern, time-outs and retries. Each run waits out real time-outs.
#include <gtest/gtest.h>

#include <algorithm>

#include "firmware/Atmega162fix.h"
#include "support/LoaderFixture.h"

namespace vindelor::firmware {
namespace {

using testing::Bytes;
using testing::CommandFrame;
using testing::Counting;
using testing::ImageFor;
using testing::Status;
using namespace std::chrono_literals;

class LoaderFromFirmware : public testing::LoaderFixture {};

bool Contains(const Bytes& haystack, const Bytes& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

// Every mode from a module whose firmware runs: the quick try finds no bootloader, the reset
// request goes out at 19200 in register framing, the wake pattern at the mode's rate brings
// the ready byte, and the update runs. Mode 3 with hardware code 1 has no reset command: only
// wake patterns go out, and the module (turned off and on) answers them.
TEST_F(LoaderFromFirmware, EveryModeWakesTheBootloaderAndUpdates) {
    struct Case {
        int mode;
        std::uint16_t hardware;
        std::uint8_t reset;
    };
    for (const Case c : {Case {0, 0, 0x56}, Case {1, 2, 0x42}, Case {2, 0, 0x57}, Case {3, 1, 0}}) {
        SCOPED_TRACE(::testing::Message() << "mode " << c.mode);
        const Bytes data = c.mode == 2 ? Counting(300) : Checked(Counting(300));
        auto image = ImageFor(c.mode, c.hardware);
        image.AddErase(1).AddFlash(0x800, data);
        auto config = sim::Bootloader::ForMode(c.mode, static_cast<std::uint8_t>(c.hardware));
        engineerAtHand = c.reset == 0;  // nothing else starts a bootloader without a reset command
        Start(image.Bytes(), config);

        const auto statuses = RunToEnd(30s);
        ASSERT_FALSE(statuses.empty());
        EXPECT_EQ(statuses.front(), (Status {1, 0}));
        EXPECT_EQ(statuses.back(), (Status {8, 0}));
        EXPECT_EQ(device->resetRequests(), c.reset != 0 ? 1 : 0);
        if (c.reset != 0) {
            EXPECT_TRUE(Contains(sim->received(), {c.reset, c.reset, c.reset, 0xFF, 0x00, 0xAA, 0xAA}));
        }
        EXPECT_EQ(device->flash().at(0x800), data);
        EXPECT_TRUE(DeviceEnded());
        TearDown();
        sink.clear();
    }
}

// On a line that takes its time: after the mode-0 reset the loader writes eight wake patterns
// (16,384 bytes, 2.84 s at 57600) that the driver takes at once. The ping that follows must
// start its 2 s time-out only when they are out, or its answer comes late and falls out of
// step with the commands after it.
TEST_F(LoaderFromFirmware, TheWaitsAfterTheWakePatternsCountFromWhenTheyAreOut) {
    lineRate = 57600;
    const Bytes data = Checked(Counting(300));
    auto image = ImageFor(0);
    image.AddErase(1).AddFlash(0x800, data);
    Start(image.Bytes(), sim::Bootloader::ForMode(0));
    const auto statuses = RunToEnd(60s);
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(), (Status {8, 0}));
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), Status {1, 0}), 1);
    EXPECT_TRUE(failures.empty()) << failures.front();
    EXPECT_EQ(device->flash().at(0x800), data);
}

// A mode-3 module whose erase ends 600 ms after the erase reply, later than the 500 ms the
// loader waits: every attempt fails, and the run ends "Failed!" with nothing written, however
// the late status falls among the next attempt's answers.
TEST_F(LoaderFromFirmware, AMode3EraseThatEndsTooLateFailsEveryAttempt) {
    engineerAtHand = true;
    auto image = ImageFor(3, 5);
    image.AddErase(1).AddFlash(0, Checked(Counting(16)));
    auto config = sim::Bootloader::ForMode(3, 5);
    config.eraseTimeMs = 600;
    Start(image.Bytes(), config);
    const auto statuses = RunToEnd(240s);
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(), (Status {9, 3}));
    EXPECT_EQ(loader->ErrorLog().size(), 10u);
    EXPECT_TRUE(device->blocks().empty());
    EXPECT_FALSE(device->ended());
}

// Mode 1's checks: old hardware refuses the image for code 4; new hardware must report the
// file's code (4 counts as 1) and gets the patch.
TEST_F(LoaderFromFirmware, ModeOneHardwareChecksDecideThePatch) {
    struct Case {
        std::uint16_t fileCode;
        std::uint8_t deviceCode;
        std::int8_t revision;
        bool compatible;
        bool patched;
    };
    const Case cases[] = {
        {4, 4, 20, false, false}, {4, 1, 21, true, true},  {2, 1, 30, false, false},
        {2, 2, 30, true, true},   {1, 9, 20, true, false}, {4, 4, static_cast<std::int8_t>(0x80), false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "file " << c.fileCode << " device " << int(c.deviceCode)
                                          << " revision " << int(c.revision));
        const Bytes block = Checked(Counting(200));
        auto image = ImageFor(1, c.fileCode);
        image.AddFlash(0, block);
        auto config = Waiting(1, c.deviceCode);
        config.revision = c.revision;
        Start(image.Bytes(), config);
        const auto statuses = RunToEnd();
        ASSERT_FALSE(statuses.empty());
        EXPECT_EQ(statuses.back().code, c.compatible ? kStatusDone : kStatusFailed);
        if (c.compatible) {
            Bytes expected = block;
            if (c.patched) PatchAtmega162Payload(expected);
            EXPECT_EQ(device->flash().at(0), expected);
        } else {
            EXPECT_EQ(loader->ErrorLog(), std::vector<std::string> {"Incompatible hardware!"});
        }
        TearDown();
        sink.clear();
    }
}

// A lost announce reply: the attempt fails on the port's time-out, the bootloader still waits
// for the block and takes the wake patterns as its data; turned off and on as the loader asks,
// it wakes, and the same block goes again.
TEST_F(LoaderFromFirmware, ALostReplyIsRetriedAfterANewWakeUp) {
    engineerAtHand = true;
    const Bytes a = Checked(Counting(32)), b = Checked(Counting(32, 5));
    auto image = ImageFor(0);
    image.AddFlash(0, a).AddFlash(0x100, b);
    Start(image.Bytes(), Waiting(0));
    device->loseReply(1, 2);  // the line test's announce is reply 0, block 0's is reply 1

    EXPECT_EQ(RunToEnd(30s).back(), (Status {8, 0}));
    EXPECT_EQ(failures, std::vector<std::string> {"Serial Error: No Data"});
    EXPECT_EQ(device->flash().at(0), a);
    EXPECT_EQ(device->flash().at(0x100), b);
}

// After three failed attempts modes 2 and 3 no longer switch to 57600: the rest of the update
// runs at 19200. Each failure leaves the bootloader at 57600 and the loader back at 19200, so
// the engineer turns the module off and on each time.
TEST_F(LoaderFromFirmware, ModesTwoAndThreeStayAt19200AfterThreeFailures) {
    engineerAtHand = true;
    for (int mode : {2, 3}) {
        SCOPED_TRACE(::testing::Message() << "mode " << mode);
        auto image = ImageFor(mode, 3);
        image.AddFlash(0, mode == 2 ? Counting(16) : Checked(Counting(16)));
        Start(image.Bytes(), Waiting(mode, 3));
        for (int k = 0; k < 3; ++k) device->corruptReplyChecksum(8, k);

        EXPECT_EQ(RunToEnd(60s).back(), (Status {8, 0}));
        EXPECT_EQ(failures.size(), 3u);
        const auto commands = device->commands();
        EXPECT_EQ(std::count_if(commands.begin(), commands.end(), [](const auto& c) { return c.command == 11; }), 3);
        EXPECT_EQ(port->GetBaudRate(), 19200u);
        EXPECT_EQ(device->blocks().size(), 1u);
        TearDown();
        sink.clear();
        failures.clear();
    }
}

// Mode 2 waits for the end of a long erase and reports its progress meanwhile.
TEST_F(LoaderFromFirmware, ModeTwoReportsTheEraseProgress) {
    auto image = ImageFor(2);
    image.AddErase(5).AddFlash(0, Counting(8));
    auto config = Waiting(2);
    config.eraseTimeMs = 2600;
    Start(image.Bytes(), config);
    const auto statuses = RunToEnd();
    EXPECT_EQ(statuses.back(), (Status {8, 0}));
    const auto progress = std::find_if(statuses.begin(), statuses.end(), [](const Status& s) { return s.code == 12; });
    ASSERT_NE(progress, statuses.end());
    EXPECT_GE(progress->argument, 10);  // about 2 s of the 19 s scale
    EXPECT_LE(progress->argument, 12);
    EXPECT_EQ(std::find(statuses.begin(), statuses.end(), Status {5, 0}), statuses.end());
}

// A silent module: the loader keeps asking for a power cycle until it is cancelled.
TEST_F(LoaderFromFirmware, CancelWhileWaitingForTheBootloaderEndsWithAborted) {
    auto image = ImageFor(0);
    image.AddFlash(0, Checked(Counting(8)));
    Start(image.Bytes(), sim::Bootloader::ForMode(0));
    device->setSilent(true);
    ASSERT_TRUE(sink.take([](const protocol::ReceivedMessage& m) {
        return m.number == protocol::MsgLoaderState && m.wParam == kStatusConnecting;
    }, 10s));
    const auto asked = std::chrono::steady_clock::now();
    loader->Terminate();
    EXPECT_EQ(RunToEnd().back(), (Status {10, 0}));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
    loader->WaitFor();
    EXPECT_TRUE(device->blocks().empty());
}

// After a run the loader parks; started again it goes on with what is left.
TEST_F(LoaderFromFirmware, ARunThatFailedCanBeStartedAgainWithTheRecordsLeft) {
    auto image = ImageFor(0);
    image.AddFlash(0, Checked(Counting(8))).AddFlash(0x100, Checked(Counting(8, 1)));
    Start(image.Bytes(), Waiting(0));
    for (int k = 0; k < 10; ++k) device->setBlockStatus(2 + k, 4, 0);  // after the line test and block 0
    EXPECT_EQ(RunToEnd().back(), (Status {9, 0}));
    EXPECT_TRUE(loader->WaitForRunEnd());
    loader->Start();
    const auto statuses = RunToEnd();
    EXPECT_EQ(statuses.back(), (Status {8, 0}));
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), Status {6, 50}), statuses.end());
    EXPECT_EQ(device->flash().size(), 2u);
}

// A connect try that switched the port to 57600 and then lost its ping leaves the port at the
// fast rate. The engineer turns the module off and on when asked; it wakes at its mode's rate,
// so the wake patterns must go out at that rate again, or it never hears them and the loader
// asks for ever.
TEST_F(LoaderFromFirmware, AfterAFailedFastConnectTheWakePatternsGoOutAtTheModesRate) {
    resetWanted = false;
    engineerAtHand = true;
    lineRate = 19200;
    for (int mode : {2, 3}) {
        SCOPED_TRACE(::testing::Message() << "mode " << mode);
        auto image = ImageFor(mode);
        const Bytes data = mode == 2 ? Counting(16) : Checked(Counting(16));
        image.AddFlash(0x100, data);
        Start(image.Bytes(), Waiting(mode));
        device->loseReply(0, 1);  // the quick try's ping at 57600
        device->loseReply(0, 2);  // the second try's
        const auto statuses = RunToEnd(15s);
        ASSERT_FALSE(statuses.empty());
        EXPECT_EQ(statuses.back(), (Status {8, 0}));
        EXPECT_EQ(device->powerCycles(), 1);
        const auto flash = device->flash();
        ASSERT_EQ(flash.count(0x100), 1u);
        EXPECT_EQ(flash.at(0x100), data);
        TearDown();
        sink.clear();
        failures.clear();
    }
}

}  // namespace
}  // namespace vindelor::firmware
