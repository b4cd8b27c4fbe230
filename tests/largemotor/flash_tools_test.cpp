// The flash and bootloader tools against the simulated flash bootloader and XC164 bootstrap
// loader on a pseudo-terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>

#include "largemotor/BootCommands.h"
#include "largemotor/FlashTools.h"
#include "largemotor/LargeMotorFixture.h"
#include "serial/TSerErr.h"
#include "sim/FlashBootloader.h"
#include "sim/Xc164Bootstrap.h"
#include "support/HexText.h"
#include "support/TempDir.h"

namespace vindelor::largemotor {
namespace {

using testing::Bytes;
using namespace std::chrono_literals;

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FlashTools : public testing::LargeMotorFixture<sim::FlashBootloader> {
protected:
    void SetUp() override {
        device = std::make_shared<sim::FlashBootloader>();
        // The fixture shortens the tool's pauses (20 ms for each long one, none for the 1 ms
        // after a pair), so the boot monitor keeps no time here: SlowMonitor below times it
        // against those pauses with a wide margin, and the slow flash-write test with the real
        // ones.
        device->setTimes({.answerMs = 0, .eraseMs = 0, .goSetupMs = 0, .pairProgramUs = 0});
        open(device);
    }
    testing::TempDir dir;
};

class ReadFlashModes : public FlashTools, public ::testing::WithParamInterface<FlashReadMode> {};

// Verified, every block is read twice (the two reads agree on a clean line); fast, once.
TEST_P(ReadFlashModes, AskForThe128BlocksAndWriteExactlyTheFlash) {
    std::vector<std::uint32_t> progress;
    const auto outcome = ReadFlashToFile(
        context(), dir.file("flash.bin"), [&](std::uint32_t n) { progress.push_back(n); }, GetParam());
    EXPECT_EQ(outcome, FlashReadOutcome::Written);
    std::vector<std::uint32_t> expected;
    for (std::uint32_t a = 0xC00000; a <= 0xC1FC00; a += 0x400) {
        expected.push_back(a);
        if (GetParam() == FlashReadMode::Verified) expected.push_back(a);
    }
    EXPECT_EQ(device->readAddresses(), expected);
    const Bytes file = ReadBytes(dir.file("flash.bin"));
    EXPECT_EQ(file.size(), 131072u);
    EXPECT_EQ(file, device->flash());
    ASSERT_EQ(progress.size(), 128u);
    EXPECT_EQ(progress[11], 12u * 1024);
    EXPECT_EQ(ReadCountText(progress[11]), "12 (9%)");
    EXPECT_EQ(port->GetBaudRate(), 19200u);
    EXPECT_EQ(pausesAsked(), std::vector<int> {100});
    EXPECT_TRUE(listening());
}

INSTANTIATE_TEST_SUITE_P(Modes, ReadFlashModes,
                         ::testing::Values(FlashReadMode::Verified, FlashReadMode::Fast),
                         [](const auto& p) { return p.param == FlashReadMode::Fast ? "fast" : "verified"; });

TEST_F(FlashTools, ABlockThatStopsAnsweringFailsTheReadNamingItAndLeavesTheOldFile) {
    const std::string path = dir.write("flash.bin", std::string("older"));
    device->setSilentAfterReads(5);  // blocks 0 and 1 twice, block 2 once
    port->SetBaudRate(57600);
    device->setLineRate(57600);
    try {
        ReadFlashToFile(context(), path);
        ADD_FAILURE() << "no error";
    } catch (const serial::TSerErr& e) {
        EXPECT_STREQ(e.Text, "Flash block 0xC00800: No Data");
    }
    EXPECT_EQ(ReadBytes(path), Bytes({'o', 'l', 'd', 'e', 'r'}));
    EXPECT_EQ(device->readAddresses().size(), 14u);  // block 2 asked ten times in all
    EXPECT_EQ(port->GetBaudRate(), 19200u);
    device->setLineRate(19200);
    EXPECT_TRUE(listening());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "no temporary file left";
}

TEST_F(FlashTools, ReadFlashToAFileThatCannotBeCreatedFailsBeforeTheRead) {
    try {
        ReadFlashToFile(context(), dir.file("no-such-folder/flash.bin"));
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("no-such-folder/flash.bin"), std::string::npos)
            << e.what();
    }
    EXPECT_THROW(ReadFlashToFile(context(), dir.path().string()), std::runtime_error);
    EXPECT_TRUE(device->readAddresses().empty());
    EXPECT_TRUE(sim->received().empty());
    EXPECT_TRUE(listening());
}

// The line, a device's second reply or a late one can bring what is not the block asked for:
// none of it reaches the result, each is asked again.
struct FlashLineFault {
    const char* name;
    std::function<void(sim::SimPort&)> onSim;    // a fault of the line at one byte
    int replyTwice = -1;                          // this read's reply comes twice
    int foreignFirst = -1;                        // another block's data comes before this read's
};

// The flash bootloader with one of its replies doubled, or preceded by another's.
class FlashReplyFaults : public sim::DeviceModel {
public:
    FlashReplyFaults(std::shared_ptr<sim::FlashBootloader> inner, int twice, int foreign)
        : inner_(std::move(inner)), twice_(twice), foreign_(foreign) {}
    void onByte(std::uint8_t b, sim::Clock::time_point at, std::vector<std::uint8_t>& reply) override {
        inner_->onByte(b, at, reply);
        if (reply.size() != 3 + 1024 + 4 || reply[0] != 0xA3) return;
        const int n = reads_++;
        if (n == twice_) {
            const auto copy = reply;
            reply.insert(reply.end(), copy.begin(), copy.end());
        }
        if (n == foreign_) reply.insert(reply.begin(), previous_.begin(), previous_.end());
        previous_ = reply;
    }

private:
    std::shared_ptr<sim::FlashBootloader> inner_;
    int twice_, foreign_;
    int reads_ = 0;
    std::vector<std::uint8_t> previous_;
};

class ReadFlashFaults : public FlashTools, public ::testing::WithParamInterface<FlashLineFault> {};

TEST_P(ReadFlashFaults, NeverReachTheFileAndTheBlockIsAskedAgain) {
    if (GetParam().replyTwice >= 0 || GetParam().foreignFirst >= 0) {
        thread.reset();
        port.reset();
        sim.reset();
        open(std::make_shared<FlashReplyFaults>(device, GetParam().replyTwice, GetParam().foreignFirst));
    }
    if (GetParam().onSim) GetParam().onSim(*sim);
    const auto flash = ReadFlash(context());
    ASSERT_TRUE(flash);
    EXPECT_EQ(*flash, device->flash());
    EXPECT_GT(device->readAddresses().size(), 256u);
    EXPECT_TRUE(listening());
}

constexpr std::size_t kBlockReply = 3 + 1024 + 4;

INSTANTIATE_TEST_SUITE_P(
    Faults, ReadFlashFaults,
    ::testing::Values(
        // The 0x00 of the second read's empty reply.
        FlashLineFault{"a_wrong_byte_in_the_empty_reply",
                       [](sim::SimPort& s) { s.corruptOutputByte(kBlockReply + 1, 0x01); }},
        // A data byte of block 1's first read: nothing in the reply shows it.
        FlashLineFault{"a_flipped_data_byte",
                       [](sim::SimPort& s) { s.corruptOutputByte(2 * kBlockReply + 3 + 500, 0x10); }},
        FlashLineFault{"a_lost_data_byte", [](sim::SimPort& s) { s.dropOutputByte(3 * kBlockReply + 700); }},
        FlashLineFault{"a_reply_that_comes_twice", {}, 3},
        FlashLineFault{"another_blocks_data_first", {}, -1, 4}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(FlashTools, ACancelledReadFlashWritesNoFile) {
    const std::string path = dir.file("flash.bin");
    int blocks = 0;
    const auto outcome = ReadFlashToFile(context(), path, [&](std::uint32_t) {
        if (++blocks == 3) cancel = true;
    });
    EXPECT_EQ(outcome, FlashReadOutcome::Cancelled);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(device->readAddresses().size(), 6u);  // each block read twice
    EXPECT_TRUE(listening());
}

struct FlashFileCase {
    const char* name;
    std::size_t size;
};

class WriteFlashFiles : public FlashTools, public ::testing::WithParamInterface<FlashFileCase> {};

TEST_P(WriteFlashFiles, SendDFGAndTheImageOf4096Bytes) {
    Bytes file(GetParam().size);
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i % 251 + 1);
    const std::string path = dir.write("flash.dat", file);
    device->setLineRate(57600);  // the flash write listens at 57600
    ASSERT_TRUE(WriteFlash(context(), path));

    Bytes image(4096, 0);
    std::copy_n(file.begin(), std::min<std::size_t>(file.size(), 4096), image.begin());
    ASSERT_TRUE(sim->waitReceived(3 + 4096, 2000));
    Bytes expected {'D', 'F', 'G'};
    expected.insert(expected.end(), image.begin(), image.end());
    EXPECT_EQ(sim->received(), expected);
    EXPECT_EQ(device->flashFile(), image);
    EXPECT_TRUE(device->flashFileErased());
    EXPECT_EQ(sim->garbledBytes(), 0u) << "everything went at 57600";

    std::vector<int> expectedPauses {100, 100, 11000, 100};
    expectedPauses.insert(expectedPauses.end(), 2048, 1);
    expectedPauses.push_back(100);
    EXPECT_EQ(pausesAsked(), expectedPauses);
    EXPECT_EQ(port->GetBaudRate(), 19200u);
    EXPECT_TRUE(listening());
}

INSTANTIATE_TEST_SUITE_P(Sizes, WriteFlashFiles,
                         ::testing::Values(FlashFileCase {"ShortIsPaddedWithZeros", 1000},
                                           FlashFileCase {"Exact", 4096}, FlashFileCase {"LongIsCut", 5000},
                                           FlashFileCase {"Empty", 0}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(FlashTools, WriteFlashWithAnUnreadableFileSendsNothingAndGivesThePortBack) {
    device->setLineRate(57600);  // the flash write listens at 57600
    EXPECT_FALSE(WriteFlash(context(), dir.file("missing.dat")));
    EXPECT_FALSE(WriteFlash(context(), dir.path().string()));
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(sim->received().empty());
    EXPECT_EQ(port->GetBaudRate(), 19200u);
    device->setLineRate(19200);
    EXPECT_TRUE(listening());
}

// A file without an end (a device) gives the image its first 4096 bytes.
TEST_F(FlashTools, WriteFlashFromADeviceTakesOnlyTheImage) {
    device->setLineRate(57600);
    ASSERT_TRUE(WriteFlash(context(), "/dev/zero"));
    ASSERT_TRUE(sim->waitReceived(3 + 4096, 2000));
    EXPECT_EQ(device->flashFile(), Bytes(4096, 0));
}

// The boot monitor keeps time: a tool whose pauses are shorter than its answer, its erase, its
// set-up after 'G' or its programming of a pair loses bytes or finds no answer.
struct MonitorTimesCase {
    const char* name;
    sim::FlashBootloader::FlashTimes times;
    bool answered;  // the answer to 'D' is in when the tool reads it
};

class SlowMonitor : public FlashTools, public ::testing::WithParamInterface<MonitorTimesCase> {};

TEST_P(SlowMonitor, FindsAToolThatDoesNotWaitLongEnough) {
    device->setTimes(GetParam().times);
    device->setLineRate(57600);
    const std::string path = dir.write("flash.dat", Bytes(4096, 0x5A));
    if (!GetParam().answered) {
        EXPECT_THROW(WriteFlash(context(), path), serial::TSerErr);
        return;
    }
    ASSERT_TRUE(WriteFlash(context(), path));
    std::this_thread::sleep_for(100ms);
    EXPECT_GT(device->lostBytes(), 0u);
    EXPECT_LT(device->flashFile().size(), 4096u);
}

INSTANTIATE_TEST_SUITE_P(
    Times, SlowMonitor,
    ::testing::Values(
        MonitorTimesCase{"AnswerAfterThePause",
                         {.answerMs = 200, .eraseMs = 0, .goSetupMs = 0, .pairProgramUs = 0},
                         false},
        MonitorTimesCase{"EraseLongerThanThePause",
                         {.answerMs = 0, .eraseMs = 200, .goSetupMs = 0, .pairProgramUs = 0},
                         true},
        MonitorTimesCase{"SetUpLongerThanThePause",
                         {.answerMs = 0, .eraseMs = 0, .goSetupMs = 200, .pairProgramUs = 0},
                         true},
        // The fixture skips the 1 ms pauses: the pairs come faster than programmed.
        MonitorTimesCase{"PairsWithoutTheirPause",
                         {.answerMs = 0, .eraseMs = 0, .goSetupMs = 0, .pairProgramUs = 800},
                         true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(FlashTools, AddressCheckPrintsWhereTheValuesChangeAndStopsAtAFailure) {
    device->setSectorStarts({0xC00000});
    // Each answer is A1 00 5F s e: the first byte of probe 0x1000 / 8 + 40 goes missing.
    sim->dropOutputByte(5 * (0x1000 / 8 + 40));
    AddressCheckState state;
    std::vector<std::string> lines;
    AddressCheck(context(), state, [&](const std::string& l) { lines.push_back(l); });
    EXPECT_EQ(lines, (std::vector<std::string> {"Start Address 0xBFF000 = 0", "End Address 0xBFF000 = 0",
                                                "End Address 0xBFFF00 = 1", "Start Address 0xC00000 = 1",
                                                "Failed at 0xC00140"}));
    EXPECT_EQ(state.lastStart, 1);
    EXPECT_EQ(state.lastEnd, 1);
    EXPECT_TRUE(listening());
}

// The boot monitor's answers to chosen probes of the address check come twice, or after
// another device's answer with other values.
class ProbeReplyFaults : public sim::DeviceModel {
public:
    ProbeReplyFaults(std::shared_ptr<sim::FlashBootloader> inner, int twice, int foreignFirst)
        : inner_(std::move(inner)), twice_(twice), foreign_(foreignFirst) {}
    void onByte(std::uint8_t b, sim::Clock::time_point at, std::vector<std::uint8_t>& reply) override {
        inner_->onByte(b, at, reply);
        if (reply.size() != 5 || reply[0] != 0xA1) return;
        const int n = probes_++;
        const auto own = reply;
        if (n == twice_) reply.insert(reply.end(), own.begin(), own.end());
        if (n == foreign_) reply.insert(reply.begin(), {0xA1, 0x00, 0x5F, 7, 7});
    }

private:
    std::shared_ptr<sim::FlashBootloader> inner_;
    int twice_, foreign_;
    int probes_ = 0;
};

TEST_F(FlashTools, AddressCheckTakesNoAnswerThatCameWithAnother) {
    device->setSectorStarts({0xC00000});
    const std::vector<std::string> clean = {"Start Address 0xBFF000 = 0", "End Address 0xBFF000 = 0",
                                            "End Address 0xBFFF00 = 1", "Start Address 0xC00000 = 1"};
    for (auto [twice, foreign] : {std::pair{100, -1}, std::pair{-1, 300}}) {
        SCOPED_TRACE(::testing::Message() << "twice " << twice << ", another first " << foreign);
        thread.reset();
        port.reset();
        sim.reset();
        open(std::make_shared<ProbeReplyFaults>(device, twice, foreign));
        AddressCheckState state;
        std::vector<std::string> lines;
        // Cancelled past 0xC00000, where the last line of a clean check is written.
        cancel = false;
        AddressCheck(context(), state, [&](const std::string& l) { lines.push_back(l); },
                     [&](std::uint32_t address) { cancel = address >= 0xC00000; });
        EXPECT_EQ(lines, clean);
        EXPECT_TRUE(listening());
    }
}

class Bootstrap : public testing::LargeMotorFixture<sim::Xc164Bootstrap> {
protected:
    void SetUp() override {
        bootloader = std::make_shared<sim::FlashBootloader>();
        device = std::make_shared<sim::Xc164Bootstrap>(bootloader);
        open(device);
        // The RAM bootloader fills the 1280 bytes the module's loader takes; the rest of the
        // longer second stage is zeros.
        Bytes stage(0x500);
        for (std::size_t i = 0; i < stage.size(); ++i) stage[i] = static_cast<std::uint8_t>(i * 7 + 3);
        booter = dir.write("booter.h86", testing::HexText().data(0, stage).text());
        booterImage = stage;
        booterImage.resize(0x800, 0);
        flashHex = dir.write("flash.h86", testing::HexText().data(0x10, {0x11, 0x22, 0x33}).text());
    }
    std::shared_ptr<sim::FlashBootloader> bootloader;
    testing::TempDir dir;
    Bytes booterImage;
    std::string booter;
    std::string flashHex;
};

TEST_F(Bootstrap, SendBootloaderToAddress2CSendsOneAnd32And2004Bytes) {
    thread.reset();  // answers would only be echoed; here they are read back below
    SendBootloader(*port, booter, true, [](int) {});
    ASSERT_TRUE(sim->waitReceived(1 + 32 + 2004, 2000));
    std::this_thread::sleep_for(50ms);
    const Bytes got = sim->received();
    ASSERT_EQ(got.size(), 1u + 32 + 2004);
    EXPECT_EQ(device->code(), Bytes(kLoader2C.begin(), kLoader2C.end()));
    EXPECT_EQ(device->secondStage(), Bytes(booterImage.begin() + 0x2C, booterImage.begin() + 0x800));
    EXPECT_EQ(port->WaitByte(500), 0xD5);
    // The loaded code answers its wake byte, not its own start.
    EXPECT_EQ(port->ReadByteWithin(300), -1);
    port->SendString(Bytes{0xFF, 0x7C}.data(), 2);
    EXPECT_EQ(port->WaitByte(500), 0x7A);
    port->SendString(Bytes{0xFF, 0x7C}.data(), 2);
    EXPECT_EQ(port->ReadByteWithin(300), -1) << "once";
}

// The bootstrap loader measures the 0x00: the whole load runs at the rate the tool chose, and
// the flash bootloader loaded by it talks at that rate afterwards.
TEST_F(Bootstrap, LoadNcxRunsAtTheRateOfItsZeroByte) {
    port->SetBaudRate(57600);
    sim->setBaudRate(57600);
    EXPECT_EQ(LoadNcxBootloader(context(), booter, flashHex), "");
    EXPECT_EQ(sim->garbledBytes(), 0u);
    EXPECT_EQ(bootloader->lineRate(), 57600);
    EXPECT_EQ(bootloader->frames().size(), 2u);
}

TEST_F(Bootstrap, SendBootloaderTo100SendsOneAnd32And1024And200Bytes) {
    std::vector<int> asked;
    SendBootloader(*port, booter, false, [&](int ms) { asked.push_back(ms); });
    ASSERT_TRUE(sim->waitReceived(1 + 32 + 1024 + 200, 2000));
    std::this_thread::sleep_for(50ms);
    const Bytes got = sim->received();
    ASSERT_EQ(got.size(), 1u + 32 + 1024 + 200);
    EXPECT_EQ(asked, std::vector<int> {400});
    EXPECT_EQ(device->secondStage(), Bytes(booterImage.begin() + 0x100, booterImage.begin() + 0x500));
    for (std::size_t i = 1057; i < got.size(); i += 2) {
        EXPECT_EQ(got[i], 0xFF);
        EXPECT_EQ(got[i + 1], 0x7C);
    }
}

TEST_F(Bootstrap, SendBootloaderWithABadHexFileSendsNothing) {
    EXPECT_ANY_THROW(SendBootloader(*port, dir.write("bad.h86", ":zz\n"), true, [](int) {}));
    EXPECT_ANY_THROW(SendBootloader(*port, dir.file("missing.h86"), true, [](int) {}));
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(sim->received().empty());
}

class LoadNcx : public Bootstrap, public ::testing::WithParamInterface<bool> {};

TEST_P(LoadNcx, WritesTheFlashBootloaderWithOrWithoutTheLeadingZero) {
    device->setLeadingZero(GetParam());
    EXPECT_EQ(LoadNcxBootloader(context(), booter, flashHex), "");
    EXPECT_EQ(device->code(), Bytes(kLoader100.begin(), kLoader100.end()));
    EXPECT_EQ(device->secondStage(), Bytes(booterImage.begin() + 0x100, booterImage.begin() + 0x500));
    const auto block = PrepareFlashBlock(flashHex);
    const Bytes flash = bootloader->flash();
    EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 2048), Bytes(block.begin(), block.begin() + 2048));
    const auto frames = bootloader->frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], PingCommand());
    EXPECT_EQ(frames[1], (Bytes {0xA1, 0x05, 0xC0, 0x00, 0x00, 0x08, 0x00, 0x92}));
    EXPECT_EQ(pausesAsked(), (std::vector<int> {400, 50, 50, 100}));
    EXPECT_TRUE(port->IsOpen);
    EXPECT_EQ(port->GetBaudRate(), 19200u);
    EXPECT_TRUE(listening());
}

INSTANTIATE_TEST_SUITE_P(Identification, LoadNcx, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "AfterZero" : "Alone"; });

TEST_F(Bootstrap, LoadNcxReportsTheCheckThatFailedAndGivesThePortBack) {
    sim->corruptOutputByte(0, 0x01);  // the identification
    EXPECT_EQ(LoadNcxBootloader(context(), booter, flashHex), "Error sending to boot loader");
    EXPECT_TRUE(port->IsOpen);
    EXPECT_EQ(port->GetBaudRate(), 19200u);
    EXPECT_TRUE(listening());
}

TEST_F(Bootstrap, LoadNcxWithAFileThatCannotBeOpenedSendsNothing) {
    const std::string missing = dir.file("missing.h86");
    EXPECT_EQ(LoadNcxBootloader(context(), missing, flashHex),
              "Cannot open file \"" + missing + "\". No such file or directory");
    EXPECT_EQ(LoadNcxBootloader(context(), booter, missing),
              "Cannot open file \"" + missing + "\". No such file or directory");
    EXPECT_ANY_THROW(LoadNcxBootloader(context(), dir.write("bad.h86", ":0100000001FF\n"), flashHex));
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(sim->received().empty());
    EXPECT_TRUE(listening());
}

}  // namespace
}  // namespace vindelor::largemotor
