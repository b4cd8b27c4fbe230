// The scope's rows: raw samples, their numbers by type, the channels the selectors choose, the
// CSV export and the pacing of the requests.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "registers/Scope.h"
#include "registers/ValueType.h"

namespace vindelor::registers {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct NumberCase {
    int type;
    std::uint32_t raw;
    double value;
};

class SampleNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(SampleNumber, IsWhatTheSampleTableShows) {
    const auto& c = GetParam();
    EXPECT_EQ(sampleNumber(c.type, c.raw), c.value);
    if (c.type != Version) {
        EXPECT_DOUBLE_EQ(std::stod(sampleText(c.type, c.raw)), c.value);
    }
}

INSTANTIATE_TEST_SUITE_P(Types, SampleNumber,
                         ::testing::Values(NumberCase {Int16, 0xFFFE, -2}, NumberCase {Uint16, 0x1FFFE, 65534},
                                           NumberCase {Int32, 0xFFFFFFFF, -1}, NumberCase {Uint32, 0xFFFFFFFF, 4294967295.0},
                                           NumberCase {Fixed4, 0x1800, 1.5}, NumberCase {Fixed8, 0xFF80, -0.5},
                                           NumberCase {Fixed16, 0x00018000, 1.5}, NumberCase {Fixed24, 0x00000280, 2.5},
                                           NumberCase {Version, 0x0128, 296}));

TEST(Scope, PlaceholderChannelsHaveNoNumber) { EXPECT_TRUE(std::isnan(sampleNumber(Dummy, 5))); }

TEST(Scope, RawSamplesSitWhereTheSampleTableReadsThem) {
    const Bytes small {0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00};
    EXPECT_EQ(sampleRaw(small, 2, Int16, 1), 3u);
    EXPECT_EQ(sampleRaw(small, 1, Int32, 1), 0x00030002u);  // a two-word type takes the next sample as high half
    EXPECT_EQ(sampleRaw(small, 3, Int32, 1), 4u);           // past a short reply: zeros
    const Bytes large {1, 0, 0, 0, 2, 0, 1, 0, 3, 0, 0, 0, 4, 0, 0, 0};
    EXPECT_EQ(sampleRaw(large, 1, Int32, 2), 0x00010002u);
    EXPECT_EQ(sampleRaw(large, 3, Int16, 2), 4u);
}

TEST(Scope, SelectorsChooseNamesAndTypesAndUnknownRegistersKeepTheColumnNumber) {
    Definitions defs;
    defs.registerTable[0] = {"V_IST          ", 7, Int16, 1, false};
    defs.registerTable[1] = {"GEAR", 18, Fixed16, 2, false};
    defs.registerCount = 2;
    const auto ch = ScopeChannelsFor(defs, {7, 0x10012, 99, 7});
    EXPECT_EQ(ch[0].name, "V_IST");
    EXPECT_EQ(ch[0].type, Int16);
    EXPECT_EQ(ch[1].name, "GEAR");  // only the low 16 bits select
    EXPECT_EQ(ch[1].type, Fixed16);
    EXPECT_EQ(ch[2].name, "3");
    EXPECT_EQ(ch[2].type, Dummy);
}

TEST(Scope, CsvHasTheNamesAsHeaderAndOneLinePerRow) {
    ScopeRecording rec;
    rec.channels = {ScopeChannel {"V_IST", Int16}, ScopeChannel {"A,B", Fixed8}, ScopeChannel {"3", Dummy},
                    ScopeChannel {"STATUS", Uint16}};
    rec.addRow(0.0004, Bytes {0xFE, 0xFF, 0x80, 0x01, 0, 0, 0x05, 0x00});
    rec.addRow(1.25, Bytes {0x01, 0x00, 0x00, 0x02, 0, 0, 0x06, 0x00});
    std::ostringstream out;
    rec.writeCsv(out);
    EXPECT_EQ(out.str(),
              "time_s,V_IST,\"A,B\",3,STATUS\n"
              "0.000400,-2,1.5,,5\n"
              "1.250000,1,2,,6\n");
    EXPECT_DOUBLE_EQ(rec.rate(), 1 / (1.25 - 0.0004));
}

TEST(SampleLoop, NextRequestGoesAtTheReplyOrAfterTheTimeOut) {
    using namespace std::chrono;
    SampleLoop loop;
    const auto t0 = SampleLoop::Clock::time_point {} + hours(1);
    EXPECT_TRUE(loop.due(t0));
    loop.sent(t0);
    EXPECT_FALSE(loop.due(t0 + milliseconds(1)));
    EXPECT_EQ(loop.untilDue(t0 + milliseconds(50)), milliseconds(SampleLoop::kReplyTimeoutMs - 50));
    loop.replied(t0 + milliseconds(1));
    EXPECT_TRUE(loop.due(t0 + milliseconds(2)));
    loop.sent(t0 + milliseconds(2));
    EXPECT_TRUE(loop.due(t0 + milliseconds(2 + SampleLoop::kReplyTimeoutMs)));
    loop.sent(t0 + milliseconds(2 + SampleLoop::kReplyTimeoutMs));
    EXPECT_EQ(loop.requests, 3u);
    EXPECT_EQ(loop.replies, 1u);
    EXPECT_EQ(loop.timeouts, 1u);
}

}  // namespace
}  // namespace vindelor::registers
