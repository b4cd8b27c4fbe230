// A line that misbehaves: the fault settings as written, the faults a seed gives, and a
// simulated device behind them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <set>
#include <thread>

#include "sim/Faults.h"
#include "support/SimFixture.h"

namespace vindelor::e2e {
namespace {

using namespace std::chrono_literals;
using sim::FaultInjector;
using sim::FaultSettings;
using sim::OutputPlan;
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
    // Logs of runs with the older kinds read as they always did.
    EXPECT_EQ(sim::FaultText(*s),
              "drop=0.01,flip=0.02,cut=0.25,delay=600@0.1,noise=0.5,unplug=2.5 seed 1");
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
                  "unknown fault \"jitter\" (drop, flip, cut, delay, noise, dup, double, twin, "
                  "other, stale, garbage, split, unplug)"}),
    [](const auto& p) { return "Case" + std::to_string(p.index); });

struct ReplyKind {
    const char* name;
    double FaultSettings::*probability;
};

void PrintTo(const ReplyKind& k, std::ostream* os) {
    *os << k.name;
}

class ReplyFaultText : public ::testing::TestWithParam<ReplyKind> {};

TEST_P(ReplyFaultText, ReadsPrintsAsItReadsAndRefusesWhatIsNoProbability) {
    const std::string name = GetParam().name;
    std::string error;
    const auto s = ParseFaults(name + "=0.25", error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ((*s).*GetParam().probability, 0.25);
    EXPECT_TRUE(s->any());
    const std::string text = sim::FaultText(*s);
    EXPECT_NE(text.find("," + name + "=0.25"), std::string::npos) << text;
    const auto again = ParseFaults(text.substr(0, text.find(" seed ")), error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ((*again).*GetParam().probability, 0.25);

    EXPECT_FALSE(ParseFaults(name + "=1.5", error));
    EXPECT_EQ(error, name + ": \"1.5\" is not a probability from 0 to 1");
}

INSTANTIATE_TEST_SUITE_P(Kinds, ReplyFaultText,
                         ::testing::Values(ReplyKind{"dup", &FaultSettings::dup},
                                           ReplyKind{"double", &FaultSettings::twice},
                                           ReplyKind{"twin", &FaultSettings::twin},
                                           ReplyKind{"other", &FaultSettings::other},
                                           ReplyKind{"stale", &FaultSettings::stale},
                                           ReplyKind{"garbage", &FaultSettings::garbage},
                                           ReplyKind{"split", &FaultSettings::split}),
                         [](const auto& p) { return std::string(p.param.name); });

std::vector<std::uint8_t> Reply() {
    return {'R', 'R', 'R', 0x00, 0xFF, 0x14, 0xEB, 0x02, 0xFD, 0x5C, 0xA3, 0x80, 0x7F, 0xAA, 0xAA};
}

// Everything the injector makes of a thousand replies and a thousand input bytes.
std::vector<std::uint8_t> Inject(const FaultSettings& s, int* delayed = nullptr) {
    FaultInjector injector(s);
    std::vector<std::uint8_t> all;
    for (int i = 0; i < 1000; ++i) {
        const auto out = injector.onOutput(Reply());
        const auto bytes = out.bytes();
        all.insert(all.end(), bytes.begin(), bytes.end());
        if (delayed && out.delayMs > 0) ++*delayed;
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

// A failing run is replayed by its seed, and runs were recorded before the replies that are not
// the answer came: those draw from a generator of their own and leave the older kinds' faults
// where they were. The figures are what the injector gave this seed before they came.
TEST(FaultInjection, ASeedGivesTheOlderKindsTheFaultsItAlwaysGave) {
    FaultSettings s;
    s.drop = s.flip = s.cut = s.noise = 0.05;
    s.delayMs = 50;
    s.delay = 0.1;
    s.seed = 7;
    const auto fingerprint = [](const std::vector<std::uint8_t>& bytes) {
        std::uint64_t h = 1469598103934665603ULL;  // FNV-1a
        for (const auto b : bytes) h = (h ^ b) * 1099511628211ULL;
        return h;
    };
    int delayed = 0;
    const auto all = Inject(s, &delayed);
    EXPECT_EQ(all.size(), 14993u);
    EXPECT_EQ(fingerprint(all), 0x9919db6189d50cecULL);
    EXPECT_EQ(delayed, 106);
    // A reply split in two still has every byte where it was.
    s.split = 1;
    EXPECT_EQ(Inject(s), all);

    FaultSettings later;
    later.dup = later.twice = later.twin = later.other = later.stale = later.garbage = later.split =
        0.05;
    later.seed = 7;
    const auto first = Inject(later);
    EXPECT_EQ(Inject(later), first);
    later.seed = 8;
    EXPECT_NE(Inject(later), first);
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
    const auto out = injector.onOutput(Reply()).bytes();
    const auto clean = Reply();
    ASSERT_EQ(out.size(), clean.size());
    for (std::size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(__builtin_popcount(out[i] ^ clean[i]), 1) << i;
}

// The register frame the device answers with: a letter three times, complemented body pairs,
// AA AA.
bool WellFormedRegisterFrame(const std::vector<std::uint8_t>& f) {
    if (f.size() < 7 || f.size() % 2 == 0 || f[0] != f[1] || f[0] != f[2]) return false;
    for (std::size_t i = 3; i + 2 < f.size(); i += 2)
        if ((f[i] ^ f[i + 1]) != 0xFF) return false;
    return f[f.size() - 2] == 0xAA && f.back() == 0xAA;
}

bool SumsToZero(const std::vector<std::uint8_t>& f) {
    unsigned sum = 0;
    for (const auto b : f) sum += b;
    return (sum & 0xFF) == 0;
}

// A flash read's reply: an empty frame, raw data, a status frame.
bool FramesAroundRawData(const std::vector<std::uint8_t>& f) {
    return f.size() > 7 && SumsToZero({f.begin(), f.begin() + 3}) &&
           SumsToZero({f.end() - 4, f.end()});
}

std::vector<std::uint8_t> FlashReadReply() {
    std::vector<std::uint8_t> r = {0xA3, 0x00, 0x5D};
    for (int i = 0; i < 16; ++i) r.push_back(static_cast<std::uint8_t>(i * 31));
    r.insert(r.end(), {0xA4, 0x01, 0x00, 0x5B});
    return r;
}

struct OtherDataCase {
    const char* name;
    std::vector<std::uint8_t> reply;
    // Exactly one byte of [dataFirst, dataEnd) gets another value; of the rest only these may
    // change with it (a complement, a checksum).
    std::size_t dataFirst, dataEnd;
    std::vector<std::size_t> followers;
    bool (*wellFormed)(const std::vector<std::uint8_t>&);  // nothing: one bit flipped instead
};

void PrintTo(const OtherDataCase& c, std::ostream* os) {
    *os << c.name;
}

class OtherData : public ::testing::TestWithParam<OtherDataCase> {};

TEST_P(OtherData, IsAWellFormedReplyWithOneValueChanged) {
    const auto& c = GetParam();
    for (std::uint64_t seed = 1; seed <= 50; ++seed) {
        std::mt19937_64 rng(seed);
        const auto other = sim::WithOtherData(c.reply, rng);
        ASSERT_EQ(other.size(), c.reply.size());
        int changed = 0;
        int bits = 0;
        for (std::size_t i = 0; i < other.size(); ++i) {
            if (other[i] == c.reply[i]) continue;
            bits += __builtin_popcount(other[i] ^ c.reply[i]);
            if (i >= c.dataFirst && i < c.dataEnd)
                ++changed;
            else
                EXPECT_NE(std::find(c.followers.begin(), c.followers.end(), i), c.followers.end())
                    << "byte " << i << ", seed " << seed;
        }
        EXPECT_EQ(changed, 1) << "seed " << seed;
        if (c.wellFormed)
            EXPECT_TRUE(c.wellFormed(other)) << "seed " << seed;
        else
            EXPECT_EQ(bits, 1) << "seed " << seed;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, OtherData,
    ::testing::Values(
        // The last body pair before the trailer, its complement with it.
        OtherDataCase{"RegisterReply", Reply(), 11, 12, {12}, WellFormedRegisterFrame},
        // A data byte of the identification, the checksum with it.
        OtherDataCase{
            "BootIdentify", {0xA8, 0x04, 0x01, 0x02, 0x0A, 0x00, 0x47}, 2, 6, {6}, SumsToZero},
        // The empty reply and its status stay; a byte of the raw data between them changes.
        OtherDataCase{"FlashRead", FlashReadReply(), 3, 19, {}, FramesAroundRawData},
        OtherDataCase{"Unparseable", {0x12, 0x34, 0x56}, 0, 3, {}, nullptr}),
    [](const auto& p) { return std::string(p.param.name); });

// What the injector makes of the reply, many times over with one seed.
std::vector<OutputPlan> Plans(FaultSettings s, int count = 1000) {
    FaultInjector injector(s);
    std::vector<OutputPlan> plans;
    for (int i = 0; i < count; ++i) plans.push_back(injector.onOutput(Reply()));
    return plans;
}

TEST(ReplyFaults, DupSendsAByteTwice) {
    FaultSettings s;
    s.dup = 1;
    const auto out = FaultInjector(s).onOutput(Reply()).bytes();
    ASSERT_EQ(out.size(), 2 * Reply().size());
    for (std::size_t i = 0; i < Reply().size(); ++i) {
        EXPECT_EQ(out[2 * i], Reply()[i]) << i;
        EXPECT_EQ(out[2 * i + 1], Reply()[i]) << i;
    }
}

TEST(ReplyFaults, DoubleSendsTheWholeReplyAgainZeroToFifteenMsAfterIt) {
    FaultSettings s;
    s.twice = 1;
    std::set<int> gaps;
    for (const auto& plan : Plans(s)) {
        ASSERT_EQ(plan.pieces.size(), 2u);
        EXPECT_EQ(plan.pieces[0].bytes, Reply());
        EXPECT_EQ(plan.pieces[1].bytes, Reply());
        EXPECT_EQ(plan.pieces[1].startMs, 0);
        gaps.insert(plan.pieces[1].gapMs);
    }
    EXPECT_EQ(*gaps.begin(), 0);
    EXPECT_EQ(*gaps.rbegin(), 15);
}

TEST(ReplyFaults, TwinIsAnotherValueInAWellFormedFrameOneToFifteenMsBeforeOrAfterTheReply) {
    FaultSettings s;
    s.twin = 1;
    int twinFirst = 0;
    std::set<int> offsets;
    for (const auto& plan : Plans(s)) {
        ASSERT_EQ(plan.pieces.size(), 2u);
        const bool first = plan.pieces[1].bytes == Reply();
        const auto& twin = plan.pieces[first ? 0 : 1].bytes;
        EXPECT_EQ(plan.pieces[first ? 1 : 0].bytes, Reply());
        EXPECT_TRUE(WellFormedRegisterFrame(twin));
        EXPECT_NE(twin, Reply());
        // Start to start, the second waiting for no more than the end of the first.
        EXPECT_EQ(plan.pieces[0].startMs, 0);
        EXPECT_EQ(plan.pieces[1].gapMs, 0);
        offsets.insert(plan.pieces[1].startMs);
        twinFirst += first;
    }
    EXPECT_GT(twinFirst, 400);
    EXPECT_LT(twinFirst, 600);
    EXPECT_EQ(*offsets.begin(), 1);
    EXPECT_EQ(*offsets.rbegin(), 15);
}

TEST(ReplyFaults, OtherSendsThePreviousReplyMadeOfTheSameLengthWhenItDiffers) {
    FaultSettings s;
    s.other = 1;
    FaultInjector injector(s);
    const auto a = Reply();
    auto b = Reply();
    b[11] = 0x81;
    b[12] = 0x7E;
    const std::vector<std::uint8_t> shorter = {'W', 'W', 'W', 0x00, 0xFF, 0xAA, 0xAA};
    const struct {
        std::vector<std::uint8_t> made, sent;
    } steps[] = {
        {a, a},              // none made before it
        {b, a},              //
        {shorter, shorter},  // none of its length
        {a, b},              // the one made before it, not the one sent
        {a, a},              // the one before is the same
    };
    for (std::size_t i = 0; i < std::size(steps); ++i)
        EXPECT_EQ(injector.onOutput(steps[i].made).bytes(), steps[i].sent) << "step " << i;
}

TEST(ReplyFaults, StaleHoldsOneReplyAtATimeUntilItIsTaken) {
    FaultSettings s;
    s.stale = 1;
    FaultInjector injector(s);
    auto b = Reply();
    b[11] = 0x81;
    b[12] = 0x7E;
    EXPECT_TRUE(injector.onOutput(Reply()).pieces.empty());
    EXPECT_EQ(injector.onOutput(b).bytes(), b);
    const auto held = injector.takeHeld();
    ASSERT_TRUE(held);
    EXPECT_EQ(held->bytes(), Reply());
    EXPECT_FALSE(injector.takeHeld());
    EXPECT_TRUE(injector.onOutput(b).pieces.empty());
}

TEST(ReplyFaults, GarbageFollowsTheReplyWithOneToEightBytes) {
    FaultSettings s;
    s.garbage = 1;
    const auto clean = Reply();
    std::set<std::size_t> counts;
    for (const auto& plan : Plans(s)) {
        ASSERT_EQ(plan.pieces.size(), 1u);
        const auto out = plan.bytes();
        ASSERT_GT(out.size(), clean.size());
        EXPECT_TRUE(std::equal(clean.begin(), clean.end(), out.begin()));
        counts.insert(out.size() - clean.size());
    }
    EXPECT_EQ(*counts.begin(), 1u);
    EXPECT_EQ(*counts.rbegin(), 8u);
}

TEST(ReplyFaults, SplitPausesEightyToOneHundredTwentyMsAtAnInnerByte) {
    FaultSettings s;
    s.split = 1;
    std::set<int> pauses;
    std::set<std::size_t> heads;
    for (const auto& plan : Plans(s)) {
        ASSERT_EQ(plan.pieces.size(), 2u);
        EXPECT_EQ(plan.bytes(), Reply());
        EXPECT_EQ(plan.pieces[1].startMs, 0);
        pauses.insert(plan.pieces[1].gapMs);
        heads.insert(plan.pieces[0].bytes.size());
    }
    EXPECT_EQ(*pauses.begin(), 80);
    EXPECT_EQ(*pauses.rbegin(), 120);
    EXPECT_EQ(*heads.begin(), 1u);
    EXPECT_EQ(*heads.rbegin(), Reply().size() - 1);
}

class FaultyDevice : public testing::SimFixture {
  protected:
    // The bytes of one reply, and whatever comes with it until the line is quiet.
    Bytes readOnce(std::uint8_t reg) {
        sender.SendReadRequest(reg);
        Bytes got;
        for (int b; (b = port->ReadByteWithin(100)) >= 0;)
            got.push_back(static_cast<std::uint8_t>(b));
        return got;
    }
};

TEST_F(FaultyDevice, NoiseAndFlipsReachTheToolAndCleanSettingsChangeNothing) {
    device->setValue(20, 0x1234);
    const Bytes clean = readOnce(20);
    ASSERT_EQ(clean.size(), 15u);

    sim::FaultSettings s;
    s.noise = 1;
    sim->setFaults(s);
    const Bytes noisy = readOnce(20);
    EXPECT_GT(noisy.size(), clean.size());
    EXPECT_TRUE(std::equal(clean.rbegin(), clean.rend(), noisy.rbegin()));

    sim->setFaults(sim::FaultSettings{});
    EXPECT_EQ(readOnce(20), clean);
}

TEST_F(FaultyDevice, ATwinsFrameComesWholeBeforeOrAfterTheReply) {
    device->setValue(20, 0x1234);
    const Bytes clean = readOnce(20);
    ASSERT_EQ(clean.size(), 15u);
    sim::FaultSettings s;
    s.twin = 1;
    std::set<bool> twinFirst;
    for (s.seed = 1; s.seed <= 6; ++s.seed) {
        sim->setFaults(s);
        const Bytes got = readOnce(20);
        ASSERT_EQ(got.size(), 2 * clean.size()) << "seed " << s.seed;
        const bool first = std::equal(clean.begin(), clean.end(), got.begin() + 15);
        const Bytes twin(got.begin() + (first ? 0 : 15), got.begin() + (first ? 15 : 30));
        EXPECT_TRUE(std::equal(clean.begin(), clean.end(), got.begin() + (first ? 15 : 0)))
            << "seed " << s.seed;
        EXPECT_TRUE(WellFormedRegisterFrame(twin)) << "seed " << s.seed;
        EXPECT_NE(twin, clean) << "seed " << s.seed;
        twinFirst.insert(first);
    }
    EXPECT_EQ(twinFirst.size(), 2u);
}

TEST_F(FaultyDevice, AStaleReplyComesWithTheNextRequestAheadOfItsAnswer) {
    device->setValue(20, 0x1234);
    device->setValue(21, 0x5678);
    const Bytes first = readOnce(20);
    const Bytes second = readOnce(21);
    ASSERT_EQ(first.size(), 15u);
    ASSERT_NE(first, second);
    // A seed that holds the first reply and not the second.
    sim::FaultSettings s;
    s.stale = 0.5;
    for (;; ++s.seed) {
        FaultInjector probe(s);
        const bool held = probe.onOutput(first).pieces.empty();
        probe.takeHeld();
        if (held && !probe.onOutput(second).pieces.empty()) break;
    }
    sim->setFaults(s);
    EXPECT_EQ(readOnce(20), Bytes{});
    Bytes both = first;
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_EQ(readOnce(21), both);
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
