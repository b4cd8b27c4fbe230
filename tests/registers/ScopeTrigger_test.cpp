// The scope's trigger in the row stream: the crossing, the pre-trigger history, the capture
// around time 0, arming again, and the bound on what it keeps.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

#include "registers/ScopeTrigger.h"
#include "registers/ValueType.h"

namespace vindelor::registers {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

ScopeRow Row(double seconds, double value) {
    ScopeRow r;
    r.seconds = seconds;
    r.values = {value, 7, 0, kNaN};
    return r;
}

struct CrossingCase {
    TriggerEdge edge;
    double before;
    double after;
    bool crosses;
};

void PrintTo(const CrossingCase& c, std::ostream* os) {
    *os << (c.edge == TriggerEdge::Rising ? "rising " : "falling ") << c.before << " to "
        << c.after;
}

class Crossing : public ::testing::TestWithParam<CrossingCase> {};

TEST_P(Crossing, NeedsTheValueToGoThroughTheLevelInTheEdgesDirection) {
    const auto& c = GetParam();
    EXPECT_EQ(CrossesLevel(c.edge, 10, c.before, c.after), c.crosses)
        << c.before << " -> " << c.after;
}

INSTANTIATE_TEST_SUITE_P(Cases, Crossing,
                         ::testing::Values(CrossingCase{TriggerEdge::Rising, 9, 11, true},
                                           CrossingCase{TriggerEdge::Rising, 9, 10, true},
                                           CrossingCase{TriggerEdge::Rising, 10, 11,
                                                        false},  // it was there already
                                           CrossingCase{TriggerEdge::Rising, 11, 9, false},
                                           CrossingCase{TriggerEdge::Rising, 11, 12, false},
                                           CrossingCase{TriggerEdge::Falling, 11, 9, true},
                                           CrossingCase{TriggerEdge::Falling, 11, 10, true},
                                           CrossingCase{TriggerEdge::Falling, 10, 9, false},
                                           CrossingCase{TriggerEdge::Falling, 9, 11, false},
                                           CrossingCase{TriggerEdge::Rising, kNaN, 11, false},
                                           CrossingCase{TriggerEdge::Falling, 11, kNaN, false}));

TEST(ScopeTrigger, CaptureHasThePreTriggerRowsTimeZeroAtTheTriggerRowAndEndsAfterThePostTime) {
    TriggerSetup setup;
    setup.level = 5;
    setup.preSeconds = 0.3;
    setup.postSeconds = 0.2;
    ScopeTrigger t(setup);
    // One row every 0.1 s: 0 0 0 0 0 0 then 5 6 7 8 ...
    for (int i = 0; i < 6; ++i) ASSERT_EQ(t.add(Row(0.1 * i, 0)), ScopeTrigger::Event::None);
    EXPECT_EQ(t.state(), ScopeTrigger::State::Armed);
    EXPECT_TRUE(t.capture().empty());
    EXPECT_EQ(t.add(Row(0.6, 5)), ScopeTrigger::Event::Triggered);
    EXPECT_DOUBLE_EQ(t.triggerSeconds(), 0.6);
    EXPECT_EQ(t.add(Row(0.7, 6)), ScopeTrigger::Event::None);
    EXPECT_EQ(t.add(Row(0.8, 7)), ScopeTrigger::Event::None);
    EXPECT_EQ(t.add(Row(0.9, 8)), ScopeTrigger::Event::Completed);
    EXPECT_EQ(t.state(), ScopeTrigger::State::Done);

    const auto& c = t.capture();
    ASSERT_EQ(c.size(), 6u);  // three rows before, the trigger row, two after
    const double times[] = {-0.3, -0.2, -0.1, 0, 0.1, 0.2};
    const double values[] = {0, 0, 0, 5, 6, 7};
    for (std::size_t i = 0; i < c.size(); ++i) {
        EXPECT_NEAR(c[i].seconds, times[i], 1e-9) << i;
        EXPECT_EQ(c[i].values[0], values[i]) << i;
        EXPECT_EQ(c[i].values[1], 7) << i;  // every channel comes along
    }
    EXPECT_EQ(c[3].seconds, 0.0);
    // Nothing more goes in until it is armed again.
    EXPECT_EQ(t.add(Row(1.0, 0)), ScopeTrigger::Event::None);
    EXPECT_EQ(t.add(Row(1.1, 9)), ScopeTrigger::Event::None);
    EXPECT_EQ(t.capture().size(), 6u);
}

TEST(ScopeTrigger, FallingEdgeFiresOnTheFirstRowAtOrBelowTheLevel) {
    TriggerSetup setup;
    setup.level = -2.5;
    setup.edge = TriggerEdge::Falling;
    setup.postSeconds = 1;
    ScopeTrigger t(setup);
    EXPECT_EQ(t.add(Row(0, 0)), ScopeTrigger::Event::None);
    EXPECT_EQ(t.add(Row(1, -1)), ScopeTrigger::Event::None);
    EXPECT_EQ(t.add(Row(2, -2.5)), ScopeTrigger::Event::Triggered);
    ASSERT_EQ(t.capture().size(), 1u);  // no pre-trigger time: the capture starts at the trigger
    EXPECT_EQ(t.capture()[0].values[0], -2.5);
}

TEST(ScopeTrigger, ArmsOnlyOnceThePreTriggerTimeIsInSoEveryCaptureHasItWhole) {
    TriggerSetup setup;
    setup.level = 5;
    setup.preSeconds = 1;
    ScopeTrigger t(setup);
    // One row every 0.1 s; a crossing half a second in, before the history is whole.
    auto add = [&](int tenths, double v) { return t.add(Row(0.1 * tenths, v)); };
    for (int i = 0; i < 5; ++i) EXPECT_EQ(add(i, 0), ScopeTrigger::Event::None);
    EXPECT_EQ(t.state(), ScopeTrigger::State::Filling);
    EXPECT_EQ(add(5, 9), ScopeTrigger::Event::None);
    for (int i = 6; i <= 10; ++i) EXPECT_EQ(add(i, 0), ScopeTrigger::Event::None);
    EXPECT_EQ(t.state(), ScopeTrigger::State::Armed);
    EXPECT_NEAR(t.armedSeconds(), 1.0, 1e-9);
    EXPECT_EQ(add(11, 0), ScopeTrigger::Event::None);
    EXPECT_EQ(add(12, 9), ScopeTrigger::Event::Triggered);
    // The whole second before the trigger: the rows from 0.2 s on.
    ASSERT_EQ(t.capture().size(), 11u);
    EXPECT_NEAR(t.capture().front().seconds, -1.0, 1e-9);
}

TEST(ScopeTrigger, AChannelWithoutNumbersNeverTriggers) {
    TriggerSetup setup;
    setup.channel = 3;  // the placeholder channel of Row()
    ScopeTrigger t(setup);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(t.add(Row(0.1 * i, i % 2 ? -1 : 1)), ScopeTrigger::Event::None);
    EXPECT_EQ(t.triggers(), 0u);
}

TEST(ScopeTrigger, ArmedAgainItKeepsTheLastCaptureUntilTheNextTrigger) {
    TriggerSetup setup;
    setup.level = 5;
    setup.preSeconds = 0.15;
    setup.postSeconds = 0.15;
    ScopeTrigger t(setup);
    double time = 0;
    auto add = [&](double v) { return t.add(Row(time += 0.1, v)); };
    add(0);
    add(0);
    // With the rows back to the last one at or before 0.15 s before it.
    EXPECT_EQ(add(9), ScopeTrigger::Event::Triggered);
    add(9);
    EXPECT_EQ(add(9), ScopeTrigger::Event::Completed);
    t.rearm();
    EXPECT_EQ(t.state(), ScopeTrigger::State::Armed);
    add(0);
    EXPECT_EQ(t.capture().size(), 4u);
    EXPECT_EQ(t.capture().back().values[0], 9);
    EXPECT_EQ(add(6), ScopeTrigger::Event::Triggered);
    EXPECT_EQ(t.triggers(), 2u);
    // Its history reaches back into the last capture's rows.
    ASSERT_EQ(t.capture().size(), 3u);
    EXPECT_EQ(t.capture()[0].values[0], 9);
    EXPECT_NEAR(t.capture()[0].seconds, -0.2, 1e-9);
    EXPECT_EQ(t.capture()[1].values[0], 0);
    EXPECT_EQ(t.capture()[2].values[0], 6);
}

TEST(ScopeTrigger, HistoryKeepsItsTimeAndNeverMoreThanItsBoundOfRows) {
    TriggerSetup setup;
    setup.level = 1e9;  // never reached
    setup.preSeconds = 0.5;
    ScopeTrigger t(setup, 2);
    for (int i = 0; i < 100; ++i) t.add(Row(0.1 * i, 0));
    // Back to the last row at or before 2 s ago.
    EXPECT_LE(t.history().front().seconds, 9.9 - 2 + 1e-9);
    EXPECT_GT(t.history().front().seconds, 9.9 - 2 - 0.1);

    // Rows that come faster than any line can carry them, for a very long pre-trigger time.
    setup.preSeconds = 1e6;
    ScopeTrigger fast(setup);
    const std::size_t n = ScopeTrigger::kMaxHistoryRows + 1000;
    for (std::size_t i = 0; i < n; ++i) fast.add(Row(static_cast<double>(i) * 1e-6, 0));
    EXPECT_EQ(fast.history().size(), ScopeTrigger::kMaxHistoryRows);
    EXPECT_EQ(fast.history().back().seconds, static_cast<double>(n - 1) * 1e-6);
}

struct TextCase {
    const char* text;
    bool ok;
    const char* channel;
    double level;
    TriggerEdge edge;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.text;
}

class TriggerTextParse : public ::testing::TestWithParam<TextCase> {};

TEST_P(TriggerTextParse, ReadsNameEdgeAndLevel) {
    const auto& c = GetParam();
    std::string error;
    const auto t = ParseTriggerText(c.text, error);
    ASSERT_EQ(t.has_value(), c.ok) << c.text;
    if (!c.ok) {
        EXPECT_FALSE(error.empty());
        return;
    }
    EXPECT_EQ(t->channel, c.channel);
    EXPECT_EQ(t->level, c.level);
    EXPECT_EQ(t->edge, c.edge);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TriggerTextParse,
    ::testing::Values(TextCase{"V_IST>1000", true, "V_IST", 1000, TriggerEdge::Rising},
                      TextCase{"TEMP<40.5", true, "TEMP", 40.5, TriggerEdge::Falling},
                      TextCase{" 2 > -3e2 ", true, "2", -300, TriggerEdge::Rising},
                      TextCase{"V_IST=5", false, "", 0, TriggerEdge::Rising},
                      TextCase{">5", false, "", 0, TriggerEdge::Rising},
                      TextCase{"V_IST>", false, "", 0, TriggerEdge::Rising},
                      TextCase{"V_IST>>5", false, "", 0, TriggerEdge::Rising},
                      TextCase{"V_IST>1,5", false, "", 0, TriggerEdge::Rising},
                      TextCase{"V_IST>nan", false, "", 0, TriggerEdge::Rising}));

TEST(ScopeTrigger, ChannelsAreFoundByRegisterNameInAnyCaseOrByNumber) {
    const std::array<ScopeChannel, kScopeChannels> channels{
        ScopeChannel{"V_IST", Int16}, ScopeChannel{"TEMP", Fixed8}, ScopeChannel{"3", Dummy},
        ScopeChannel{"STATUS", Uint16}};
    EXPECT_EQ(FindScopeChannel(channels, "v_ist"), 0);
    EXPECT_EQ(FindScopeChannel(channels, "STATUS"), 3);
    EXPECT_EQ(FindScopeChannel(channels, "2"), 1);
    EXPECT_EQ(FindScopeChannel(channels, "3"), 2);
    EXPECT_EQ(FindScopeChannel(channels, "5"), -1);
    EXPECT_EQ(FindScopeChannel(channels, "P_IST"), -1);
}

}  // namespace
}  // namespace vindelor::registers
