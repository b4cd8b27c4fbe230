// A line that misbehaves: the fault settings as written, the faults a seed gives, and a
// simulated device behind them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "sim/Faults.h"
#include "support/SimFixture.h"

namespace vindelor::e2e {
namespace {

using namespace std::chrono_literals;
using sim::FaultInjector;
using sim::FaultSettings;
using sim::ParseFaults;
using testing::Bytes;

TEST(FaultText, EveryFaultReadsAndAnyOrderWorks) {
    std::string error;
    const auto s =
        ParseFaults("noise=0.5,drop=0.01,flip=0.02,cut=0.25,delay=600@0.1,unplug=2.5", error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->drop, 0.01);
    EXPECT_EQ(s->flip, 0.02);
    EXPECT_EQ(s->cut, 0.25);
    EXPECT_EQ(s->delayMs, 600);
    EXPECT_EQ(s->delay, 0.1);
    EXPECT_EQ(s->noise, 0.5);
    EXPECT_EQ(s->unplugSeconds, 2.5);
    const auto none = ParseFaults("", error);
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->any());
}

struct BadFaults {
    const char* text;
    const char* error;
};

class FaultTextErrors : public ::testing::TestWithParam<BadFaults> {};

TEST_P(FaultTextErrors, AreNamed) {
    std::string error;
    EXPECT_FALSE(ParseFaults(GetParam().text, error));
    EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FaultTextErrors,
    ::testing::Values(
        BadFaults{"drop", "\"drop\" is not NAME=VALUE"},
        BadFaults{"drop=1.5", "drop: \"1.5\" is not a probability from 0 to 1"},
        BadFaults{"flip=0,5", "\"5\" is not NAME=VALUE"},
        BadFaults{"cut=-0.1", "cut: \"-0.1\" is not a probability from 0 to 1"},
        BadFaults{"delay=600",
                  "delay: \"600\" is not MS@P (milliseconds up to 600000, P from 0 to 1)"},
        BadFaults{"unplug=0", "unplug: \"0\" is not a number of seconds above 0"},
        BadFaults{"jitter=0.1",
                  "unknown fault \"jitter\" (drop, flip, cut, delay, noise, unplug)"}),
    [](const auto& p) { return "Case" + std::to_string(p.index); });

std::vector<std::uint8_t> Reply() {
    return {'R', 'R', 'R', 0x00, 0xFF, 0x14, 0xEB, 0x02, 0xFD, 0x5C, 0xA3, 0x80, 0x7F, 0xAA, 0xAA};
}

// Everything the injector makes of a thousand replies and a thousand input bytes.
std::vector<std::uint8_t> Inject(const FaultSettings& s, int* delayed = nullptr) {
    FaultInjector injector(s);
    std::vector<std::uint8_t> all;
    for (int i = 0; i < 1000; ++i) {
        int delayMs = 0;
        const auto out = injector.onOutput(Reply(), delayMs);
        all.insert(all.end(), out.begin(), out.end());
        if (delayed && delayMs > 0) ++*delayed;
        if (const auto in = injector.onInput(static_cast<std::uint8_t>(i))) all.push_back(*in);
    }
    return all;
}

TEST(FaultInjection, TheSameSeedGivesTheSameFaultsAndAnotherSeedOthers) {
    FaultSettings s;
    s.drop = s.flip = s.cut = s.noise = 0.05;
    s.seed = 7;
    const auto first = Inject(s);
    EXPECT_EQ(Inject(s), first);
    s.seed = 8;
    EXPECT_NE(Inject(s), first);
}

TEST(FaultInjection, EachFaultHitsAboutAsOftenAsAsked) {
    const std::size_t clean = 1000 * (Reply().size() + 1);
    FaultSettings s;
    s.drop = 0.1;
    const std::size_t dropped = clean - Inject(s).size();
    EXPECT_GT(dropped, clean / 20);
    EXPECT_LT(dropped, clean / 7);

    FaultSettings none;
    EXPECT_EQ(Inject(none).size(), clean);

    FaultSettings cut;
    cut.cut = 1;
    EXPECT_LT(Inject(cut).size(),
              1000 * Reply().size() / 2 + 1000 + 200);  // about half of each reply

    FaultSettings delay;
    delay.delayMs = 50;
    delay.delay = 0.5;
    int delayed = 0;
    Inject(delay, &delayed);
    EXPECT_GT(delayed, 400);
    EXPECT_LT(delayed, 600);
}

TEST(FaultInjection, AFlipChangesOneBitOfTheByte) {
    FaultSettings s;
    s.flip = 1;
    FaultInjector injector(s);
    int delayMs = 0;
    const auto out = injector.onOutput(Reply(), delayMs);
    const auto clean = Reply();
    ASSERT_EQ(out.size(), clean.size());
    for (std::size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(__builtin_popcount(out[i] ^ clean[i]), 1) << i;
}

class FaultyDevice : public testing::SimFixture {};

TEST_F(FaultyDevice, NoiseAndFlipsReachTheToolAndCleanSettingsChangeNothing) {
    device->setValue(20, 0x1234);
    // The bytes of one reply, and whatever comes with it until the line is quiet.
    const auto readOnce = [&] {
        sender.SendReadRequest(20);
        Bytes got;
        for (int b; (b = port->ReadByteWithin(100)) >= 0;)
            got.push_back(static_cast<std::uint8_t>(b));
        return got;
    };
    const Bytes clean = readOnce();
    ASSERT_EQ(clean.size(), 15u);

    sim::FaultSettings s;
    s.noise = 1;
    sim->setFaults(s);
    const Bytes noisy = readOnce();
    EXPECT_GT(noisy.size(), clean.size());
    EXPECT_TRUE(std::equal(clean.rbegin(), clean.rend(), noisy.rbegin()));

    sim->setFaults(sim::FaultSettings{});
    EXPECT_EQ(readOnce(), clean);
}

TEST_F(FaultyDevice, UnplugHangsThePortUpAfterItsTime) {
    sim::FaultSettings s;
    s.unplugSeconds = 0.2;
    sim->setFaults(s);
    EXPECT_FALSE(sim->hungUp());
    for (int i = 0; i < 100 && !sim->hungUp(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(sim->hungUp());
    EXPECT_THROW(port->ReadByteWithin(500), serial::TSerErr);
}

}  // namespace
}  // namespace vindelor::e2e
