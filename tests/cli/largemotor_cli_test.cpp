// vindelor-cli's large-motor commands against the simulated bootloaders and boot-mode motor on
// a pseudo-terminal.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "largemotor/BootCommands.h"
#include "sim/BootModeMotor.h"
#include "sim/FlashBootloader.h"
#include "sim/SimPort.h"
#include "sim/Xc164Bootstrap.h"
#include "support/HexText.h"
#include "support/RunCli.h"
#include "support/TempDir.h"

namespace vindelor::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::CliRun;
using testing::RunCli;
using namespace std::chrono_literals;

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class LargeMotorCli : public ::testing::Test {
protected:
    void use(std::shared_ptr<sim::DeviceModel> model) { sim = std::make_unique<sim::SimPort>(std::move(model)); }
    CliRun run(const std::string& args) { return RunCli("--port " + sim->slavePath() + " " + args, "cd " + dir.path().string() + " &&"); }

    testing::TempDir dir;
    std::unique_ptr<sim::SimPort> sim;
};

TEST_F(LargeMotorCli, FlashReadWritesFlashBinInTheCurrentFolder) {
    auto bootloader = std::make_shared<sim::FlashBootloader>();
    use(bootloader);
    const CliRun r = run("flash-read");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir.file("flash.bin")), bootloader->flash());
    EXPECT_NE(r.err.find("128 (100%)"), std::string::npos) << r.err;
}

TEST_F(LargeMotorCli, FlashReadThatTimesOutWritesNothing) {
    auto bootloader = std::make_shared<sim::FlashBootloader>();
    bootloader->setSilentAfterReads(4);  // two blocks, each read twice
    use(bootloader);
    const CliRun r = run("flash-read -o out.bin");
    EXPECT_EQ(r.status, 1);
    // The error names the block, on a line of its own after the progress.
    EXPECT_NE(r.err.find("KBytes read: 2 (1%)\nvindelor-cli: Flash block 0xC00800: No Data"), std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.bin")));
}

TEST_F(LargeMotorCli, FlashReadToAFolderThatIsNotThereFailsBeforeReading) {
    auto bootloader = std::make_shared<sim::FlashBootloader>();
    use(bootloader);
    const CliRun r = run("flash-read -o missing/out.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing/out.bin"), std::string::npos) << r.err;
    EXPECT_TRUE(bootloader->readAddresses().empty());
}

// "Set 57600 Baud", then a read at that rate; the simulated bootloader starts at 19200.
TEST_F(LargeMotorCli, FlashBaudSwitchesTheBootloaderForTheNextCommand) {
    auto bootloader = std::make_shared<sim::FlashBootloader>();
    use(bootloader);
    CliRun r = run("flash-baud");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sim->received(), (Bytes{0xAB, 0x01, 0x04, 0x50}));
    EXPECT_EQ(bootloader->lineRate(), 57600);
    r = run("--baud 57600 flash-read");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(dir.file("flash.bin")), bootloader->flash());
    EXPECT_EQ(sim->garbledBytes(), 0u);
}

TEST_F(LargeMotorCli, FlashEraseSendsTheSectorAndChecksTheAnswer) {
    use(std::make_shared<sim::FlashBootloader>());
    CliRun r = run("flash-erase 15");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sim->received(), (Bytes {0xA2, 0x01, 0x0F, 0x4E}));
    r = run("flash-erase 16");
    EXPECT_EQ(r.status, 2);
}

TEST_F(LargeMotorCli, FlashEraseWithoutAnAnswerIsADeviceFailure) {
    use(std::make_shared<sim::BootModeMotor>());  // never answers a bootloader frame
    const CliRun r = run("flash-erase 3");
    EXPECT_EQ(r.status, 1) << r.err;
}

TEST_F(LargeMotorCli, FlashWriteWithAMissingFileSendsNothing) {
    use(std::make_shared<sim::FlashBootloader>());
    const CliRun r = run("flash-write missing.dat");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error loading flash file"), std::string::npos) << r.err;
    EXPECT_TRUE(sim->received().empty());
}

TEST_F(LargeMotorCli, AddressCheckStopsAtAFailureWithStatusOne) {
    use(std::make_shared<sim::FlashBootloader>());
    sim->dropOutputByte(5 * 3);
    const CliRun r = run("address-check");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Start Address 0xBFF000 = 0\nEnd Address 0xBFF000 = 0\nFailed at 0xBFF018\n");
}

struct SendCase {
    const char* option;
    std::size_t bytes;
};

class BootloaderSend : public LargeMotorCli, public ::testing::WithParamInterface<SendCase> {};

TEST_P(BootloaderSend, SendsTheFirstStageAndTheSecond) {
    auto bootstrap = std::make_shared<sim::Xc164Bootstrap>(std::make_shared<sim::FlashBootloader>());
    use(bootstrap);
    const std::string booter = dir.write("booter.h86", testing::HexText().data(0x100, Bytes(0x400, 0x5A)).text());
    const CliRun r = run(std::string("bootloader send ") + GetParam().option + " " + booter);
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(sim->waitReceived(GetParam().bytes, 2000));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(sim->received().size(), GetParam().bytes);
    EXPECT_TRUE(bootstrap->started());
}

INSTANTIATE_TEST_SUITE_P(Loaders, BootloaderSend,
                         ::testing::Values(SendCase {"", 1 + 32 + 2004}, SendCase {"--load-address 0x2C", 1 + 32 + 2004},
                                           SendCase {"--load-address 0x100", 1 + 32 + 1024 + 200}));

TEST_F(LargeMotorCli, BootloaderLoadWritesTheFlashBootloaderOrSaysWhyNot) {
    auto bootloader = std::make_shared<sim::FlashBootloader>();
    auto bootstrap = std::make_shared<sim::Xc164Bootstrap>(bootloader);
    bootstrap->setLeadingZero(true);
    use(bootstrap);
    const std::string booter = dir.write("booter.h86", testing::HexText().data(0x100, Bytes(0x400, 0x5A)).text());
    const std::string flash = dir.write("flash.h86", testing::HexText().data(0x20, Bytes(16, 0x42)).text());
    CliRun r = run("bootloader load " + booter + " " + flash);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(bootloader->flash()[0x20], 0x42);

    // The bootstrap has run: a second load gets no identification.
    r = run("bootloader load " + booter + " " + flash);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error writing bootloader\nError sending to boot loader"), std::string::npos) << r.err;
    r = run("bootloader load " + booter + " missing.h86");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot open file"), std::string::npos) << r.err;
}

// A motor that asks for its download until one has run through.
class DownloadCli : public LargeMotorCli {
protected:
    void SetUp() override {
        motor = std::make_shared<sim::BootModeMotor>();
        use(motor);
        firmware = dir.write("motor.bin", Bytes(3000, 0xC3));
        asker = std::thread([this] {
            while (!stop) {
                if (motor->shouldAsk()) {
                    if (dropSum) {
                        // The first byte of the sum that answers this request goes missing.
                        sim->resetFaults();
                        sim->dropOutputByte(3);
                    }
                    sim->inject(motor->request());
                }
                std::this_thread::sleep_for(200ms);
            }
        });
    }
    void TearDown() override {
        stop = true;
        asker.join();
    }
    std::shared_ptr<sim::BootModeMotor> motor;
    std::string firmware;
    std::atomic<bool> stop {false};
    std::atomic<bool> dropSum{false};
    std::thread asker;
};

TEST_F(DownloadCli, ServesTheRequestAndReportsTheSum) {
    const std::string fpga = dir.write("fpga.hex", testing::HexText().data(0x100, Bytes(300, 0x11)).text());
    const CliRun r = run("download --firmware " + firmware + " --fpga " + fpga + " --timeout 10");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("firmware: 3000 bytes, sum 0x0008ED28, device 0x0008ED28: match"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("fpga: 556 bytes: loaded"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("progress 100%"), std::string::npos) << r.err;
    EXPECT_EQ(motor->firmware(), Bytes(3000, 0xC3));
    EXPECT_EQ(motor->fpga().size(), 556u);
}

TEST_F(DownloadCli, ASumMismatchIsStatusOne) {
    motor->setSumOffset(5);
    const CliRun r = run("download --firmware " + firmware + " --timeout 10");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("MISMATCH"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("Checksum error loading file"), std::string::npos) << r.err;
    // The last line names the step, whatever the device's box texts call it.
    EXPECT_TRUE(r.err.ends_with("the download failed: the device's firmware sum differs from the file's\n")) << r.err;
}

TEST_F(DownloadCli, AFailedFpgaStartIsStatusOne) {
    motor->setStartAnswer(1);
    const std::string fpga = dir.write("fpga.hex", testing::HexText().data(0, Bytes(10, 1)).text());
    const CliRun r = run("download --firmware " + firmware + " --fpga " + fpga + " --timeout 10");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("Conf_done didn't go low"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("fpga: 10 bytes: FAILED"), std::string::npos) << r.out;
    EXPECT_TRUE(r.err.ends_with("the download failed: the FPGA's start answer: Conf_done didn't go low\n")) << r.err;
}

// Nothing was measured: no sum is printed as if it had been.
class DownloadCliLostSum : public DownloadCli {
  protected:
    void SetUp() override {
        dropSum = true;
        DownloadCli::SetUp();
    }
};

TEST_F(DownloadCliLostSum, IsSaidSo) {
    const CliRun r = run("download --firmware " + firmware + " --timeout 10");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("firmware: 3000 bytes: the device's sum was not received"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("device 0x"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("Error sending firmware file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the download failed: waiting for the device's firmware sum: "), std::string::npos) << r.err;
}

TEST_F(DownloadCli, AnUnreadableFileOrNoRequestIsStatusOneAndUsageIsTwo) {
    CliRun r = run("download --firmware missing.bin --timeout 10");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error loading firmware file"), std::string::npos) << r.err;
    // An empty firmware is refused as well, before its zero length goes out.
    r = run("download --firmware " + dir.write("empty.bin", Bytes{}) + " --timeout 10");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("empty.bin is empty"), std::string::npos) << r.err;
    EXPECT_TRUE(sim->received().empty());
    stop = true;
    asker.join();
    asker = std::thread([] {});
    r = run("download --firmware " + firmware + " --timeout 0.5");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no download request"), std::string::npos) << r.err;
    r = run("download");
    EXPECT_EQ(r.status, 2);
}

}  // namespace
}  // namespace vindelor::cli
