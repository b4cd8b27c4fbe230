// vindelor-cli's expansion-module commands against the simulated device.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "support/RunCli.h"
#include "support/SimFixture.h"

namespace vindelor::cli {
namespace {

using testing::Bytes;
using testing::CliRun;

class CliModules : public testing::CliSimFixture {
protected:
    CliRun run(const std::string& args) {
        return testing::RunCli(portArg() + " " + args, "cd " VINDELOR_SOURCE_DIR "/defs &&");
    }
    // The 4-byte writes the device has taken, as (register, value).
    std::vector<std::pair<int, std::uint32_t>> writes() {
        std::vector<std::pair<int, std::uint32_t>> out;
        for (const auto& f : device->frames())
            if (f.letter == 'R' && f.body.size() == 6 && f.body[1] == 4)
                out.emplace_back(f.body[0], f.body[2] | f.body[3] << 8 | f.body[4] << 16 |
                                                static_cast<std::uint32_t>(f.body[5]) << 24);
        return out;
    }
};

TEST_F(CliModules, PollPrintsTheModulesTextForTheGivenTime) {
    device->feedModuleText("line one\r\nline two\r\n");
    CliRun r = run("poll --seconds 1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "line one\nline two\n");
    EXPECT_GT(device->pollCount(), 5);
}

TEST_F(CliModules, ModuleStatusReadAndWrite) {
    device->setModuleStatus({0x02, 0x00, 0xE8, 0x03, 0x00, 0x00, 0x07, 0x05});
    CliRun r = run("module status");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Actual position = 1000\nModuleStatus = 0b0000'0000'0000'0010\nLast group sequence = 5\n"
              "Recieve errors = 7\n");
    r = run("module status --json");
    EXPECT_EQ(r.status, 0) << r.err;
    // "raw" is the whole block as it came.
    EXPECT_EQ(r.out.rfind("{\"position\":1000,\"status\":2,\"status_bits\":\"0b0000'0000'0000'0010\","
                          "\"last_group_sequence\":5,\"receive_errors\":7,\"raw\":[2,0,232,3,0,0,7,5,",
                          0),
              0u)
        << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 3), "]}\n");
    r = run("--echo module write 11 -1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("send: <5B><5B><5B><FF><00><0B><F4><04><FB><FF><00><FF><00><FF><00><FF><00><AA><AA>"),
              std::string::npos)
        << r.err;
    r = run("module read 11");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "11 = -1\n");
    EXPECT_EQ(run("module read eleven").status, 2);
}

TEST_F(CliModules, GroupWriteWithAnExplicitGroupIsTheTabsFrame) {
    device->setGroup(5);
    CliRun r = run("--echo group-write 3 1234 --group 5 --sequence 1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "next sequence 2\n");
    EXPECT_NE(r.err.find("send: <59><59><59><05><FA><01><FE><03><FC><02><FD><D2><2D><04><FB><AA><AA>"),
              std::string::npos)
        << r.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(device->value(3), 1234u);
    EXPECT_EQ(device->lastGroupSequence(), 1);
    r = run("group-write 200 1 --group 5");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Could not find parameter"), std::string::npos) << r.err;
}

TEST_F(CliModules, DebugAndProfiViewsPrintTheirTexts) {
    device->setDebugInfo({0x01, 0x00, 0x00, 0x34, 0x12, 0x00, 0x00, 0x7F});
    CliRun r = run("debug");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Timer\t\t: 4660\nCounter\t\t: 0\nMode Command: Command Mode, Command : 31\n"),
              std::string::npos)
        << r.out;

    EXPECT_EQ(run("profi write 1 2 300").status, 0);
    r = run("profi read");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 75), "Data 0: 0x01 \t(00000001)\nData 1: 0x02 \t(00000010)\nData 2: 0x2C \t(00101100)\n");
    EXPECT_EQ(run("profi write 1 2 3 4 5 6 7 8 9 10").status, 2);
    EXPECT_EQ(run("profi write x").status, 2);

    r = run("profi dump");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 60), "00: \n00 01 02 03 04 05 06 07 08  09 0A 0B 0C 0D 0E 0F \n10: \n");
}

TEST_F(CliModules, NoAnswerIsStatusOne) {
    CliRun r = run("--address 9 debug");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No answer"), std::string::npos) << r.err;
}

TEST_F(CliModules, BreakTestAndRotationWriteTheirRegisters) {
    CliRun r = run("break-test --ticks 3");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "register 2 = 3\nregister 2 = 0\nregister 2 = 3\n");
    device->clearFrames();
    r = run("rotate --increment 5 --interval 15 --ticks 3");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "register 176 = 5\nregister 176 = 10\nregister 176 = 15\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(writes(), (std::vector<std::pair<int, std::uint32_t>> {{2, 7}, {176, 5}, {176, 10}, {176, 15}, {2, 0}}));
    EXPECT_EQ(run("rotate --increment 101").status, 2);
    EXPECT_EQ(run("rotate --interval 14").status, 2);
}

}  // namespace
}  // namespace vindelor::cli
