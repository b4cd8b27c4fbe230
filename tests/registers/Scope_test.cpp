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

namespace vindelor::registers {
namespace {

// What the line carried in each request's window: its replies (frames decoded whole, each
// handed on as a row) and stray bytes.
struct WindowOnLine {
    int replies = 1;
    int stray = 0;
};

struct AloneCase {
    const char* name;
    std::vector<WindowOnLine> windows;
    int quietAfterFrames = 0;  // replies that come after the last window, in the quiet time
    std::vector<double> taken;  // the rows that go on, by their request's number
};

class AloneRowsCases : public ::testing::TestWithParam<AloneCase> {};

TEST_P(AloneRowsCases, TakeOnlyRowsWhoseReplyCameAlone) {
    AloneRows rows;
    AloneRows::Heard heard;
    std::vector<double> taken;
    auto collect = [&] {
        for (const auto& r : rows.take()) taken.push_back(r.seconds);
    };
    const auto& windows = GetParam().windows;
    for (std::size_t w = 0; w < windows.size(); ++w) {
        rows.sent(heard);
        collect();
        heard.bytes += static_cast<std::uint64_t>(windows[w].stray);
        for (int r = 0; r < windows[w].replies; ++r) {
            heard.bytes += 25;
            heard.framed += 25;
            ++heard.frames;
            ScopeRow row;
            row.seconds = static_cast<double>(w);
            rows.replied(row);
        }
    }
    for (int r = 0; r < GetParam().quietAfterFrames; ++r) {
        heard.bytes += 25;
        heard.framed += 25;
        ++heard.frames;
    }
    rows.finish(heard);
    collect();
    EXPECT_EQ(taken, GetParam().taken);
    EXPECT_EQ(rows.dropped() + taken.size(),
              [&] {
                  std::size_t n = 0;
                  for (const auto& w : windows) n += static_cast<std::size_t>(w.replies);
                  return n;
              }());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, AloneRowsCases,
    ::testing::Values(
        AloneCase{"clean", {{1, 0}, {1, 0}, {1, 0}}, 0, {0, 1, 2}},
        // A second answer to request 1 lands in request 2's window: rows 1 and 2 are out, and
        // the row of 2's late twin as well.
        AloneCase{"a_second_answer", {{1, 0}, {1, 0}, {2, 0}, {1, 0}}, 0, {0, 3}},
        // Stray bytes before a reply speak against it and against the row before.
        AloneCase{"noise", {{1, 0}, {1, 0}, {1, 3}, {1, 0}}, 0, {0, 3}},
        // A lost reply leaves a gap; the rows around it stand.
        AloneCase{"a_lost_reply", {{1, 0}, {0, 0}, {1, 0}}, 0, {0, 2}},
        // A reply in the quiet time after the run: the second answer to the last request, or
        // a late one to the request before it.
        AloneCase{"a_second_answer_to_the_last", {{1, 0}, {1, 0}, {1, 0}}, 1, {0}}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace vindelor::registers
