// The firmware and FPGA download a large motor asks for, run by the receive thread against the
// simulated boot-mode motor on a pseudo-terminal.
#include "largemotor/DownloadFixture.h"

namespace vindelor::largemotor {
namespace {

using namespace test;
using testing::Bytes;
using namespace std::chrono_literals;

TEST_F(Download, WithoutTheFpgaSendsTheFirmwareInPiecesAndAnnouncesNoImage) {
    ASSERT_TRUE(run(false));
    EXPECT_EQ(device->firmware(), Counting(1500, 3));
    EXPECT_EQ(device->announcedFirmware(), 1500u);
    EXPECT_EQ(device->verdict(), 0x33);
    EXPECT_EQ(device->announcedFpga(), 0u);
    EXPECT_TRUE(device->finished());
    EXPECT_EQ(progress(), (std::vector<std::int64_t> {68, 100, 100}));
    EXPECT_TRUE(loaded());
    EXPECT_TRUE(boxes().empty());
    EXPECT_TRUE(result.success());

    Bytes expected {0xDC, 0x05, 0, 0};
    const Bytes fw = Counting(1500, 3);
    expected.insert(expected.end(), fw.begin(), fw.end());
    expected.insert(expected.end(), {0x33, 0x55, 0, 0, 0, 0});
    EXPECT_EQ(wire(), expected);
    EXPECT_EQ(sim->garbledBytes(), 0u);
    EXPECT_EQ(port->GetBaudRate(), 19200u);
    EXPECT_TRUE(port->IsOpen);
    EXPECT_TRUE(listening());
}

TEST_F(Download, ASumMismatchIsRefusedWithZeroAndTheFpgaPhaseFollows) {
    device->setSumOffset(1);
    ASSERT_TRUE(run(false));
    EXPECT_EQ(device->verdict(), 0x00);
    EXPECT_EQ(boxes(), std::vector<std::string> {"Checksum error loading file"});
    EXPECT_TRUE(device->finished());
    EXPECT_TRUE(loaded());
    EXPECT_FALSE(result.sumOk);
    EXPECT_FALSE(result.success());
    EXPECT_TRUE(listening());
}

struct StartCase {
    const char* name;
    int answer;
    std::vector<std::string> boxes;
};

class FpgaStart : public Download, public ::testing::WithParamInterface<StartCase> {};

TEST_P(FpgaStart, NotZeroFailsThePhaseAndThePortComesBack) {
    fpgaPath = dir.write("fpga.hex", testing::HexText().data(0, Counting(2000, 1)).text());
    device->setStartAnswer(GetParam().answer);
    ASSERT_TRUE(run(true));
    EXPECT_EQ(boxes(), GetParam().boxes);
    EXPECT_TRUE(device->fpga().empty());
    EXPECT_FALSE(loaded());
    EXPECT_TRUE(result.sumOk);
    EXPECT_FALSE(result.fpgaOk);
    EXPECT_EQ(port->GetBaudRate(), 19200u);
    EXPECT_TRUE(port->IsOpen);
    EXPECT_TRUE(listening());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FpgaStart,
    ::testing::Values(StartCase {"One", 1, {"Conf_done didn't go low", "Error loading altera file"}},
                      StartCase {"None", -1, {"Error loading altera file"}}),
    [](const auto& p) { return std::string(p.param.name); });

struct BadFileCase {
    const char* name;
    const char* firmware;  // nullptr: the good firmware; "": an empty file; "/...": that path
    const char* fpga;      // hex text; nullptr: no file at all
    const char* box;
};

class BadFiles : public Download, public ::testing::WithParamInterface<BadFileCase> {};

TEST_P(BadFiles, EndTheJobBeforeAnythingIsSent) {
    const auto& c = GetParam();
    if (c.firmware) {
        const std::string name = c.firmware;
        firmwarePath = name.empty()     ? dir.write("empty.bin", Bytes{})
                       : name[0] == '/' ? name
                                        : dir.file(name);
    }
    fpgaPath = c.fpga ? dir.write("fpga.hex", std::string(c.fpga)) : dir.file("missing.hex");
    ASSERT_TRUE(run(true));
    EXPECT_EQ(boxes(), std::vector<std::string> {c.box});
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(wire().empty());
    EXPECT_TRUE(progress().empty());
    EXPECT_FALSE(result.success());
    EXPECT_EQ(port->GetBaudRate(), 19200u);
    device->request();  // back to listening at the request rate...
    EXPECT_TRUE(listening());
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadFiles,
    ::testing::Values(
        BadFileCase{"FirmwareMissing", "missing.bin", ":00000001FF\n",
                    "Error loading firmware file"},
        BadFileCase{"FirmwareIsAFolder", ".", ":00000001FF\n", "Error loading firmware file"},
        // Nothing to announce: a zero sum would "match" and the motor take it.
        BadFileCase{"FirmwareEmpty", "", ":00000001FF\n", "Error loading firmware file"},
        // The length goes out first: a device without a size is no firmware.
        BadFileCase{"FirmwareIsADevice", "/dev/zero", ":00000001FF\n",
                    "Error loading firmware file"},
        BadFileCase{"FpgaMissing", nullptr, nullptr, "Error loading altera file"},
        BadFileCase{"FpgaAt80000", nullptr, ":020000040008F2\n:0100000001FE\n:00000001FF\n",
                    "Error loading altera file"},
        BadFileCase{"FpgaMalformed", nullptr, ":01000000zz\n", "Error loading altera file"},
        BadFileCase{"FpgaBadChecksum", nullptr, ":0100000001FF\n", "Error loading altera file"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace vindelor::largemotor
