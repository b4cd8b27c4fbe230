// vindelor-cli run as a program against the simulated device.
#include <gtest/gtest.h>


#include <filesystem>
#include <string>

#include "support/RunCli.h"
#include "support/SimFixture.h"
#include "support/TempDir.h"

namespace vindelor::cli {
namespace {

using testing::CliRun;
using testing::RunCli;
using namespace std::chrono_literals;

class CliRegisters : public testing::CliSimFixture {};

TEST_F(CliRegisters, ReadPrintsTheValue) {
    device->setValue(32, 4660);
    CliRun r = RunCli(portArg() + " read 32");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "4660\n");
}

TEST_F(CliRegisters, ReadAsJsonWithoutDefinitionsGivesThePlainNumber) {
    device->setValue(32, 4660);
    CliRun r = RunCli(portArg() + " read 32 --json");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "{\"name\":null,\"number\":32,\"type\":null,\"words\":1,\"raw\":4660,\"value\":4660,"
                     "\"text\":\"4660\"}\n");
}

TEST_F(CliRegisters, ReadWithRepeatEndsWithTheRoundTripFigures) {
    CliRun r = RunCli(portArg() + " read 0x20 --repeat 5");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("round trip ms: min "), std::string::npos) << r.out;
}

TEST_F(CliRegisters, WriteReadsTheValueBackAndEchoesTheBytes) {
    CliRun r = RunCli(portArg() + " --echo write 32 0x1234");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "4660\n");
    EXPECT_NE(r.err.find("send: <52><52><52><FF><00><20><DF><02><FD><34><CB><12><ED><AA><AA>"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("recv: <52><52><52><00><FF><20><DF>"), std::string::npos) << r.err;
}

TEST_F(CliRegisters, GroupWriteAndCommandsGoOutAsFrames) {
    EXPECT_EQ(RunCli(portArg() + " --group 1 group-write 9 300 --sequence 4").status, 0);
    EXPECT_EQ(RunCli(portArg() + " command flash").status, 0);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(device->value(9), 300u);
    EXPECT_EQ(device->lastGroupSequence(), 4);
    ASSERT_FALSE(device->frames().empty());
    EXPECT_EQ(device->frames().back().letter, 'V');
}

TEST_F(CliRegisters, NoAnswerIsStatusOneWithOneLine) {
    CliRun r = RunCli(portArg() + " --address 9 read 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No answer"), std::string::npos) << r.err;
}

TEST_F(CliRegisters, UsageErrorsAndUnopenablePortsAreStatusTwo) {
    EXPECT_EQ(RunCli(portArg() + " read").status, 2);
    EXPECT_EQ(RunCli(portArg() + " read 300").status, 2);
    EXPECT_EQ(RunCli(portArg() + " frobnicate").status, 2);
    CliRun r = RunCli("--port /dev/vindelor-no-such-port read 1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Error opening port: /dev/vindelor-no-such-port"), std::string::npos) << r.err;
}

TEST(Cli, APortWithoutPermissionNamesBothFixes) {
    if (::geteuid() == 0) GTEST_SKIP() << "root opens any file; CI runs this test again as an unprivileged user";
    testing::TempDir tmp;
    const std::string path = tmp.write("ttyLOCKED", "");
    std::filesystem::permissions(path, std::filesystem::perms::none);
    CliRun r = RunCli("--port " + path + " read 1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Error opening port: " + path + ": Permission denied"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("udev rule"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("usermod -aG dialout $USER"), std::string::npos) << r.err;
}

TEST(Cli, VersionAndHelpSucceed) {
    CliRun version = RunCli("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find("GPL-3.0-or-later"), std::string::npos) << version.out;
    CliRun help = RunCli("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("read"), std::string::npos);
}

TEST_F(CliRegisters, PortsListsLinkedNumbersWithTheirDevice) {
    testing::TempDir tmp;
    const std::filesystem::path& folder = tmp.path();
    const std::string link = sim::LinkPort(folder.string(), 5, sim->slavePath());
    CliRun r = RunCli("ports", "VINDELOR_PORT_DIR=" + folder.string());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("COM5\t" + link + "\n"), std::string::npos) << r.out;
    r = RunCli("--port COM5 read 1", "VINDELOR_PORT_DIR=" + folder.string());
    EXPECT_EQ(r.status, 0) << r.err;
}

}  // namespace
}  // namespace vindelor::cli
