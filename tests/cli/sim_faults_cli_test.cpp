// The simulator's misbehaving line as a script sees it: --faults and --seed on the command
// line, a clear refusal of a fault it does not know, and SIGUSR2 to make the line behave.
#include <gtest/gtest.h>

#include <csignal>

#include "support/RunCli.h"
#include "support/Spawn.h"
#include "support/TempDir.h"

namespace vindelor::cli {
namespace {

using testing::CliRun;

TEST(SimulatorFaults, ALostLineFailsTheReadUntilSigusr2TurnsTheFaultsOff) {
    testing::TempDir tmp;
    testing::Spawned sim(std::string(VINDELOR_SIM) + " --address 3 --faults drop=1 --seed 7",
                         tmp.file("out"), tmp.file("err"));
    ASSERT_TRUE(sim.waitFor("/dev/", false, 5000)) << sim.err();
    EXPECT_TRUE(sim.waitFor("faults drop=1", true, 5000)) << sim.err();
    const std::string device = sim.out().substr(0, sim.out().find('\n'));
    const std::string read = "--port " + device + " --address 3 read 20";
    CliRun lost = testing::RunCli(read);
    EXPECT_EQ(lost.status, 1);
    EXPECT_NE(lost.err.find("No answer"), std::string::npos) << lost.err;

    sim.stop(SIGUSR2, 0);
    ASSERT_TRUE(sim.waitFor("faults off", true, 5000)) << sim.err();
    CliRun clean = testing::RunCli(read);
    EXPECT_EQ(clean.status, 0) << clean.err;
    EXPECT_EQ(sim.stop(SIGTERM, 5000), 0);
}

TEST(SimulatorFaults, NoDeviceOnTheScannedAddressesIsSaidOnStderr) {
    testing::TempDir tmp;
    testing::Spawned sim(std::string(VINDELOR_SIM) + " --devices 3:VX20-95", tmp.file("out"),
                         tmp.file("err"));
    ASSERT_TRUE(sim.waitFor("/dev/", false, 5000)) << sim.err();
    const std::string device = sim.out().substr(0, sim.out().find('\n'));
    CliRun r = testing::RunCli("--port " + device + " --baud 115200 scan --from 4 --to 6",
                               "cd " + std::string(VINDELOR_SOURCE_DIR) + "/defs &&");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("No device answered at addresses 4 to 6"), std::string::npos) << r.err;
    EXPECT_EQ(sim.stop(SIGTERM, 5000), 0);
}

TEST(SimulatorFaults, AFaultItDoesNotKnowIsRefused) {
    CliRun bad = testing::RunCli("--faults jitter=0.1", "", VINDELOR_SIM);
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("--faults: unknown fault \"jitter\""), std::string::npos) << bad.err;
}

}  // namespace
}  // namespace vindelor::cli
