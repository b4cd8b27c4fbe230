// vindelor-cli scan and params against simulated motors on one line, with the shipped
// definitions and restore lists in its current folder.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "support/LineFixture.h"
#include "support/SecondDevice.h"
#include "support/RunCli.h"
#include "support/Spawn.h"
#include "support/TempDir.h"

namespace vindelor::cli {
namespace {

using namespace std::chrono_literals;
using registers::KT42;
using registers::VX20_95;
using registers::VX300_700;
using testing::CliRun;

constexpr int kKP = 16;  // registers of a VX20-95
constexpr int kGear = 18;
constexpr int kMode = 1;
constexpr int kFirmware = 20;

class CliParams : public testing::LineFixture {
  protected:
    // The line as it is, without a port of our own: the program opens it.
    void start() { sim = std::make_unique<sim::SimPort>(line); }
    CliRun run(const std::string& args) {
        return testing::RunCli("--port " + sim->slavePath() + " " + args,
                               "cd " + Shipped() + " &&");
    }
    std::string path(const std::string& name) const { return tmp.file(name); }
    // The frames that reached a motor, by letter.
    static int Frames(const sim::RegisterDevice& m, char letter) {
        int n = 0;
        for (const auto& f : m.frames()) n += f.letter == letter;
        return n;
    }
    testing::TempDir tmp;
};

TEST_F(CliParams, ScanPrintsAddressFirmwareAndTypeOfEachDeviceAndFailsWhenNoneAnswers) {
    addMotor(3, VX20_95);
    addMotor(17, KT42);
    addMotor(200, VX300_700)->setValue(17, 0x8000u | (2u << 6) | 1u);
    start();
    CliRun r = run("--baud 115200 scan");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "3\t1.28\tVX20-95\n17\t1.28\tKT42\n200\t2.1\tVX300/700\n");
    r = run("--baud 115200 scan --from 4 --to 16 --json");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out,
              "{\"from\":4,\"to\":16,\"complete\":true,\"late_replies\":0,\"devices\":[],"
              "\"two_devices_at\":[]}\n");
    EXPECT_EQ(run("scan --from 9 --to 8").status, 2);
}

// A new drive added to a line with its factory address: two devices answer every question to
// that address. No command may take either answer for the device's, and each says why it
// failed.
TEST_F(CliParams, TwoDevicesAtOneAddressFailEveryCommandSayingSo) {
    addMotor(3, VX20_95)->setValue(kKP, 0x1800);
    addMotor(5, VX20_95);
    sim = std::make_unique<sim::SimPort>(std::make_shared<testing::SecondDeviceAt>(line, 3));
    const std::string two = "more than one answer at address 3; two devices may answer at that address";
    for (const char* args : {"--address 3 read KP", "--address 3 read 16", "--address 3 write KP 2.0",
                             "--address 3 sample", "--address 3 list --read", "--address 3 module status",
                             "--address 3 module read 11", "--address 3 scope --seconds 0.2"}) {
        CliRun r = run(std::string("--baud 115200 ") + args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.out, "") << args;
        EXPECT_NE(r.err.find(two), std::string::npos) << args << ": " << r.err;
    }
    CliRun save = run("--baud 115200 --address 3 params save " + path("set.params"));
    EXPECT_EQ(save.status, 1);
    EXPECT_NE(save.err.find(two), std::string::npos) << save.err;
    EXPECT_FALSE(std::ifstream(path("set.params")).good());

    CliRun scan = run("--baud 115200 scan --from 0 --to 8");
    EXPECT_EQ(scan.status, 1);
    EXPECT_EQ(scan.out, "5\t1.28\tVX20-95\n");
    EXPECT_NE(scan.err.find("Two devices answer at address 3: give one of them another address"),
              std::string::npos)
        << scan.err;
}

TEST_F(CliParams, SaveDiffAndRestoreGoRound) {
    auto m = addMotor(3);
    start();
    const std::string file = path("drive3.params");
    CliRun r = run("--address 3 params save " + file);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Saved 38 registers of the VX20-95 at address 3 to " + file + "\n");
    EXPECT_EQ(run("--address 3 params diff " + file).status, 0);

    m->setValue(kKP, 0x2400);
    m->setValue(kGear, 0x00020000);
    m->setValue(kMode, 2);
    r = run("--address 3 params diff " + file);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out,
              " 16:KP              file 1.5000000  device 2.2500000\n"
              " 18:GEAR            file 1.5000000  device 2.0000000\n");
    r = run("--address 3 params diff " + file + " --all --json");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("{\"name\":\"MODE\",\"number\":1,\"file\":{\"type\":\"uint16\",\"raw\":1,"
                         "\"text\":\"1\"},"
                         "\"device\":{\"type\":\"uint16\",\"raw\":2,\"text\":\"2\"}}"),
              std::string::npos)
        << r.out;

    m->clearFrames();
    r = run("--address 3 params restore " + file + " --dry-run");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "would write  16:KP              2.2500000 -> 1.5000000\n"
              "would write  18:GEAR            2.0000000 -> 1.5000000\n"
              "2 registers to write; nothing was written (--dry-run)\n");
    EXPECT_NE(r.err.find("left as the device has them: MODE"), std::string::npos) << r.err;
    EXPECT_EQ(Frames(*m, 'R'), 0);

    r = run("--address 3 params restore " + file + " --flash");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Restored 2 registers, each read back, and wrote them to flash\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(Frames(*m, 'R'), 2);
    EXPECT_EQ(Frames(*m, 'V'), 1);
    EXPECT_EQ(m->value(kKP), 0x1800u);
    EXPECT_EQ(m->value(kGear), 0x00018000u);
    EXPECT_EQ(m->value(kMode), 2u);
    EXPECT_EQ(run("--address 3 params diff " + file).status, 0);
}

TEST_F(CliParams, DiffComparesTwoFilesAndSaysTwoOnTrouble) {
    auto m = addMotor(3);
    start();
    ASSERT_EQ(run("--address 3 params save " + path("a.params")).status, 0);
    m->setValue(kKP, 0x2000);
    ASSERT_EQ(run("--address 3 params save " + path("b.params")).status, 0);
    CliRun r = run("params diff " + path("a.params") + " " + path("b.params"));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, " 16:KP              file 1.5000000  file2 2.0000000\n");
    EXPECT_EQ(run("params diff " + path("a.params") + " " + path("a.params")).status, 0);
    r = run("params diff " + path("a.params") + " " + path("missing.params"));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("missing.params"), std::string::npos) << r.err;
    EXPECT_EQ(run("--address 4 params diff " + path("a.params")).status, 2);  // nobody there
}

TEST_F(CliParams, ADamagedFileIsAnErrorWithItsLineAndNothingReachesTheDevice) {
    auto m = addMotor(3);
    start();
    const std::string file = path("drive3.params");
    ASSERT_EQ(run("--address 3 params save " + file).status, 0);
    std::string text;
    {
        std::ifstream in(file);
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    const auto at = text.find("0x1800");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 6, "0x1900");
    const std::size_t lineNumber = static_cast<std::size_t>(std::count(
                                       text.begin(), text.begin() + static_cast<long>(at), '\n')) +
                                   1;
    std::ofstream(file, std::ios::trunc) << text;
    m->clearFrames();
    CliRun r = run("--address 3 params restore " + file);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(file + ":" + std::to_string(lineNumber) +
                         ": the value 1.5000000 does not match the raw words 0x1900"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("nothing was written to the device"), std::string::npos) << r.err;
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(m->frames().empty());
}

TEST_F(CliParams, AFileOfAnotherTypeIsRefusedAndOtherFirmwareOnlyWithForce) {
    auto vx = addMotor(3, VX20_95);
    auto kt = addMotor(17, KT42);
    start();
    const std::string file = path("drive3.params");
    ASSERT_EQ(run("--address 3 params save " + file).status, 0);
    vx->setValue(kKP, 0x2000);
    kt->clearFrames();
    CliRun r = run("--address 17 --type KT42 params restore " + file);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(
                  "the file holds the parameters of a VX20-95, not of a KT42; nothing was written"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(kt->frames().empty());

    vx->setValue(kFirmware, 0x8000u | (1u << 6) | 29u);
    vx->clearFrames();
    r = run("--address 3 params restore " + file);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(
        r.err.find(
            "was saved from firmware 1.28; the device runs 1.29; nothing was written to the device "
            "(--force restores it all the same)"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(Frames(*vx, 'R'), 0);
    r = run("--address 3 params restore " + file + " --force");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Warning: "), std::string::npos);
    EXPECT_EQ(vx->value(kKP), 0x1800u);
}

TEST_F(CliParams, ASaveFromASilentDeviceNamesTheRegisterAndLeavesTheOldFile) {
    addMotor(3);
    start();
    const std::string file = tmp.write("old.params", "kept\n");
    CliRun r = run("--address 9 params save " + file);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("MODE: no answer from the device at address 9; nothing was saved"),
              std::string::npos)
        << r.err;
    std::ifstream in(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "kept\n");
}

TEST(SimulatorLine, PutsSeveralMotorsBehindOnePseudoTerminal) {
    testing::TempDir tmp;
    testing::Spawned sim(std::string(VINDELOR_SIM) + " --devices 3:VX20-95,17:KT42,200:VX300/700",
                         tmp.file("out"), tmp.file("err"));
    ASSERT_TRUE(sim.waitFor("/dev/", false, 5000)) << sim.err();
    const std::string device = sim.out().substr(0, sim.out().find('\n'));
    CliRun r = testing::RunCli("--port " + device + " --baud 115200 scan --from 0 --to 20",
                               "cd " + std::string(VINDELOR_SOURCE_DIR) + "/defs &&");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "3\t1.28\tVX20-95\n17\t1.28\tKT42\n");
    EXPECT_EQ(sim.stop(SIGTERM, 5000), 0);
    CliRun bad = testing::RunCli("--devices 3:VX99", "", VINDELOR_SIM);
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("unknown device type"), std::string::npos) << bad.err;
}

}  // namespace
}  // namespace vindelor::cli
