// vindelor-cli scope against the simulated motor, with the definitions of defs/.
#include <gtest/gtest.h>

#include "support/ScopeFixture.h"

namespace vindelor::cli {
namespace {

using testing::CliRun;
using testing::CliScope;
using testing::Fields;
using testing::Lines;

TEST_F(CliScope, WritesTheSelectedRegistersAsCsvWithTimesAndTheRateOnStderr) {
    CliRun r = run("scope --seconds 0.5");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_GT(lines.size(), 10u) << r.out;
    EXPECT_EQ(lines[0], "time_s,V_IST,TEMP,MODE,STATUS");
    double last = -1;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto f = Fields(lines[i]);
        ASSERT_EQ(f.size(), 5u) << lines[i];
        const double t = std::stod(f[0]);
        EXPECT_GT(t, last);
        EXPECT_LT(t, 0.6);
        last = t;
    }
    EXPECT_NE(r.err.find(" rows/s"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(std::to_string(lines.size() - 1) + " rows in "), std::string::npos) << r.err;
}

TEST_F(CliScope, TheReplyToTheLastRequestCountsWhenTheTimeIsUp) {
    // Every reply comes 150 ms late: the run is over before the first one arrives, which is
    // still within its time-out.
    sim->setResponseDelayMs(150);
    CliRun r = run("scope --seconds 0.05");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    EXPECT_GT(std::stod(Fields(lines[1])[0]), 0.1) << r.out;
    EXPECT_NE(r.err.find("1 rows in "), std::string::npos) << r.err;
}

TEST_F(CliScope, NoDefinitionsIsAUsageErrorAndASilentDeviceIsStatusOne) {
    CliRun r = testing::RunCli(portArg() + " scope --seconds 0.2", "cd " + dir.path().string() + " &&");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("No usable register definitions"), std::string::npos) << r.err;
    r = run("--address 9 scope --seconds 0.2");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No answer"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace vindelor::cli
