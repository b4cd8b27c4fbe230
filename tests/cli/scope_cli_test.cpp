// vindelor-cli scope against the simulated motor, with the definitions of defs/.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "registers/Scope.h"
#include "sim/DeviceSetup.h"
#include "support/ScopeFixture.h"

namespace vindelor::cli {
namespace {

using testing::CliRun;
using testing::CliScope;
using testing::Fields;
using testing::Lines;

TEST_F(CliScope, WritesTheSelectedRegistersAsCsvWithTimesAndTheRateOnStderr) {
    constexpr double kSeconds = 0.5;
    CliRun r = run("scope --seconds " + std::to_string(kSeconds));
    ASSERT_EQ(r.status, 0) << r.err;
    // The reply to the last request, sent before the end, may come up to its time-out later.
    const double latest = kSeconds + registers::SampleLoop::kReplyTimeoutMs / 1000.0;
    const auto lines = Lines(r.out);
    ASSERT_GT(lines.size(), 10u) << r.out;
    EXPECT_EQ(lines[0], "time_s,V_IST,TEMP,MODE,STATUS");
    double last = -1;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto f = Fields(lines[i]);
        ASSERT_EQ(f.size(), 5u) << lines[i];
        const double t = std::stod(f[0]);
        EXPECT_GT(t, last);
        EXPECT_LE(t, latest);
        last = t;
    }
    EXPECT_NE(r.err.find(" rows/s"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(std::to_string(lines.size() - 1) + " rows in "), std::string::npos)
        << r.err;
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
    CliRun r =
        testing::RunCli(portArg() + " scope --seconds 0.2", "cd " + dir.path().string() + " &&");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("No usable register definitions"), std::string::npos) << r.err;
    r = run("--address 9 scope --seconds 0.2");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No answer"), std::string::npos) << r.err;
}

// A trigger on the simulator's swinging velocity, made to swing in 0.4 s so that a crossing
// comes soon: its rising or falling edge through a level, with 0.1 s before it and after it.
struct TriggerCase {
    const char* trigger;
    bool rising;
    double level;
    bool toFile;
};

void PrintTo(const TriggerCase& c, std::ostream* os) {
    *os << c.trigger << (c.toFile ? " to a file" : "");
}

class CliScopeTrigger : public CliScope, public ::testing::WithParamInterface<TriggerCase> {
  protected:
    void SetUp() override {
        CliScope::SetUp();
        device->setLive(static_cast<int>(selector(0)),
                        sim::SwingingVelocity(sim::Clock::now(), kPeriod));
    }
    static constexpr double kPeriod = 0.4;
};

TEST_P(CliScopeTrigger, CaptureStartsAtTheCrossingWithThePreTriggerRowsBeforeIt) {
    const auto& c = GetParam();
    constexpr double kPre = 0.1;
    constexpr double kPost = 0.1;
    const std::string file = dir.file("trigger.csv");
    CliRun r = run(std::string("scope --trigger '") + c.trigger +
                   "' --pre 0.1 --seconds 0.1 --wait 5" + (c.toFile ? " --csv " + file : ""));
    ASSERT_EQ(r.status, 0) << r.err;
    std::string csv = r.out;
    if (c.toFile) {
        EXPECT_TRUE(r.out.empty());
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        csv = text.str();
    }
    const auto lines = Lines(csv);
    ASSERT_GT(lines.size(), 10u) << csv;
    EXPECT_EQ(lines[0], "time_s,V_IST,TEMP,MODE,STATUS");
    std::vector<double> times;
    std::vector<double> values;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto f = Fields(lines[i]);
        ASSERT_EQ(f.size(), 5u) << lines[i];
        times.push_back(std::stod(f[0]));
        values.push_back(std::stod(f[1]));
    }
    for (std::size_t i = 1; i < times.size(); ++i) ASSERT_GT(times[i], times[i - 1]) << i;
    // Time 0 is the first row through the level: the row before it had not reached it.
    const auto zero = std::find(times.begin(), times.end(), 0.0);
    ASSERT_NE(zero, times.end()) << csv;
    const auto k = static_cast<std::size_t>(zero - times.begin());
    ASSERT_GT(k, 0u) << "no pre-trigger rows";
    if (c.rising) {
        EXPECT_GE(values[k], c.level);
        EXPECT_LT(values[k - 1], c.level);
    } else {
        EXPECT_LE(values[k], c.level);
        EXPECT_GT(values[k - 1], c.level);
    }
    // The whole pre-trigger time before it, the post-trigger time after it to within a row.
    // The first row is the last at or before the start of the pre-trigger time.
    EXPECT_LE(times.front(), -kPre + 1e-6);
    EXPECT_GT(times[1], -kPre);
    // Rows after it up to the post-trigger time (where exactly the capture ends, the row past it
    // left out, is the trigger's own test: that row is not in the file to measure by).
    EXPECT_GT(times.back(), 0);
    EXPECT_LE(times.back(), kPost + 1e-6);
    EXPECT_NE(r.err.find("around the trigger at "), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Edges, CliScopeTrigger,
                         ::testing::Values(TriggerCase{"V_IST>1010", true, 1010, false},
                                           TriggerCase{"v_ist<990", false, 990, true}));

TEST_F(CliScope, NoTriggerWithinTheWaitIsStatusOneAndWritesNoRows) {
    // The velocity swings between 950 and 1050: it never reaches the level.
    device->setLive(static_cast<int>(selector(0)), sim::SwingingVelocity(sim::Clock::now(), 0.2));
    CliRun r =
        run("scope --trigger 'V_IST>2000' --pre 0.1 --wait 0.3 --csv " + dir.file("none.csv"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_NE(r.err.find("No trigger: V_IST rising through 2000 within 0.3 s"), std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("none.csv")));
}

TEST_F(CliScope, TriggerOnARegisterThatIsNotSampledOrPreWithoutTriggerIsAUsageError) {
    CliRun r = run("scope --trigger 'P_IST>5'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(
        r.err.find("P_IST is not sampled; the sampled registers are V_IST, TEMP, MODE, STATUS"),
        std::string::npos)
        << r.err;
    r = run("scope --trigger 'V_IST>abc'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("not a number"), std::string::npos) << r.err;
    r = run("scope --pre 1");
    EXPECT_EQ(r.status, 2);
}

}  // namespace
}  // namespace vindelor::cli
