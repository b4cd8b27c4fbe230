// --trace on the command line and trace-print, against the simulated device.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "support/RunCli.h"
#include "support/SimFixture.h"
#include "support/TempDir.h"

namespace vindelor::cli {
namespace {

using testing::CliRun;
using testing::RunCli;

class CliTrace : public testing::CliSimFixture {
protected:
    std::string readTrace() {
        std::ifstream in(dir.file("t.trace"));
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    testing::TempDir dir;
};

TEST_F(CliTrace, WriteCommandIsTracedFrameByFrameAndPrintedReadably) {
    CliRun r = RunCli(portArg() + " --trace " + dir.file("t.trace") + " write 32 0x1234");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string trace = readTrace();
    EXPECT_TRUE(trace.starts_with("# Vindelor traffic trace, format 1\n# start ")) << trace;
    EXPECT_NE(trace.find("# vindelor-cli port " + sim->slavePath() + " baud 19200\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" open " + sim->slavePath() + " baud 19200\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" TX 52 52 52 FF 00 20 DF 02 FD 34 CB 12 ED AA AA | write request reg 0x20 = 4660 (2 bytes) dest 255\n"),
              std::string::npos) << trace;
    EXPECT_NE(trace.find(" TX 50 50 50 FF 00 20 DF AA AA | read request reg 0x20 dest 255\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" RX 52 52 52 00 FF 20 DF 02 FD 34 CB 12 ED AA AA | register reply 0x20 = 4660\n"),
              std::string::npos) << trace;
    EXPECT_NE(trace.find(" closed\n"), std::string::npos) << trace;

    CliRun p = RunCli("trace-print " + dir.file("t.trace"));
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_NE(p.out.find("  TX  read request reg 0x20 dest 255\n"), std::string::npos) << p.out;
    EXPECT_NE(p.out.find("  RX  register reply 0x20 = 4660\n"), std::string::npos) << p.out;
    EXPECT_NE(p.out.find(" 52 52 52 00 FF 20 DF 02 FD 34 CB 12 ED AA AA\n"), std::string::npos) << p.out;
}

TEST_F(CliTrace, TracePrintRefusesABrokenFileWithTheLineAndAnUnwritableTraceIsAUsageError) {
    const std::string bad = dir.write("bad.trace", "# fine\n0.000001 TX 5 | x\n");
    CliRun p = RunCli("trace-print " + bad);
    EXPECT_EQ(p.status, 1);
    EXPECT_NE(p.err.find("line 2:"), std::string::npos) << p.err;
    EXPECT_EQ(RunCli("trace-print " + dir.file("missing")).status, 1);

    CliRun r = RunCli(portArg() + " --trace " + dir.file("no/such/folder/t.trace") + " read 1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Cannot write the trace"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace vindelor::cli
