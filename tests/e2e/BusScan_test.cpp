// The bus scan against simulated motors on one line: it finds exactly the devices present,
// asks each address once and no more when nothing is late, and a late or garbled reply is
// never taken as the next address's answer.
#include "registers/BusScan.h"

#include <gtest/gtest.h>

#include <set>

#include "support/LineFixture.h"

namespace vindelor::e2e {
namespace {

using registers::KT42;
using registers::KT56;
using registers::VX20_95;
using registers::VX300_700;

constexpr int kFirmware = 20;  // a VX20-95's FIRMWARE register
constexpr std::size_t kReplyBytes = 15;  // a reply to the read of a one-word register

class BusScan : public testing::LineFixture {
  protected:
    registers::ScanOutcome scan(int from, int to) {
        registers::ScanOptions o;
        o.from = from;
        o.to = to;
        o.registerNumber = kFirmware;
        return registers::ScanBus(*link, o);
    }
    static std::vector<int> Addresses(const registers::ScanOutcome& outcome) {
        std::vector<int> out;
        for (const auto& hit : outcome.found) out.push_back(hit.address);
        return out;
    }
};

struct Present {
    const char* what;
    std::vector<int> addresses;
    int from;
    int to;
};

class ScanFinds : public BusScan, public ::testing::WithParamInterface<Present> {};

TEST_P(ScanFinds, ExactlyTheDevicesPresentAskingEachAddressOnce) {
    for (int a : GetParam().addresses) addMotor(a);
    open();
    const auto outcome = scan(GetParam().from, GetParam().to);
    EXPECT_EQ(Addresses(outcome), GetParam().addresses);
    EXPECT_FALSE(outcome.cancelled);
    // One question per address, two more per device found (the answers must agree), and none
    // more: the scan ends when the range has had its time. (Only a late reply, which a busy
    // machine can cause, asks again.)
    const auto asked = readDestinations();
    if (outcome.lateReplies == 0) {
        EXPECT_EQ(asked.size(), static_cast<std::size_t>(GetParam().to - GetParam().from + 1) +
                                    2 * GetParam().addresses.size());
    }
    for (int a = GetParam().from; a <= GetParam().to; ++a)
        EXPECT_NE(std::count(asked.begin(), asked.end(), a), 0) << a;
    EXPECT_EQ(std::count(asked.begin(), asked.end(), 255), 0);
}

INSTANTIATE_TEST_SUITE_P(Lines, ScanFinds,
                         ::testing::Values(Present{"none", {}, 0, 254}, Present{"one", {7}, 0, 31},
                                           Present{"several", {3, 4, 17, 30}, 0, 31},
                                           Present{"the ends", {0, 254}, 0, 254}),
                         [](const ::testing::TestParamInfo<Present>& p) {
                             std::string name = p.param.what;
                             for (char& c : name)
                                 if (c == ' ') c = '_';
                             return name;
                         });

TEST_F(BusScan, ASlowDevicesReplyIsNotTakenAsTheNextAddresssAnswer) {
    // Device 10 answers well after its time (about 5.4 ms at 115200), in the next address's.
    addMotor(10, VX20_95, 8);
    addMotor(13);
    open();
    EXPECT_EQ(Addresses(scan(5, 16)), (std::vector<int>{10, 13}));
}

TEST_F(BusScan, ASlowDeviceBeforeAPresentOneIsFoundToo) {
    addMotor(10, VX20_95, 8);
    addMotor(11);
    open();
    EXPECT_EQ(Addresses(scan(5, 16)), (std::vector<int>{10, 11}));
}

TEST_F(BusScan, AReplyLaterThanTheSecondQuestionsTimeIsNotTakenForAnAddressBeforeIt) {
    addMotor(7);
    open();
    // The answer to the second question comes 160 ms late, when that question's time (about
    // 106 ms at 115200) is over: it is neither taken for the address before it nor lost, as
    // the device is asked again on a quiet line.
    sim->delayOutputByte(kReplyBytes, 160);
    EXPECT_EQ(Addresses(scan(0, 10)), std::vector<int>{7});
}

TEST_F(BusScan, AnAnswerWithAnotherRightBehindItIsNotTakenForEitherAndTheAddressIsNamed) {
    // Two devices at one address, the second a little slower: every question about 5 gets
    // two different answers, one after the other, and neither can be told to be its own.
    addMotor(5)->setValue(kFirmware, 0x1111);
    addMotor(5, VX20_95, 1)->setValue(kFirmware, 0x2222);
    addMotor(6);
    open();
    const auto outcome = scan(0, 8);
    EXPECT_EQ(Addresses(outcome), std::vector<int>{6});
    EXPECT_EQ(outcome.twoAnswers, std::vector<int>{5});
}

TEST(ScanFirmware, IsTheDevicesOwnOrTheScannedRegisterOnlyWhereThatIsItsFirmware) {
    registers::ScanHit hit;
    hit.reply.value = 0x1234;
    struct Case {
        registers::DeviceIdentity id;
        std::optional<std::uint32_t> shown;
    };
    for (const auto& [id, shown] : std::vector<Case>{
             {{KT42, 0x0105u}, 0x0105u},     // its own FIRMWARE answered
             {{VX20_95, {}}, 0x1234u},       // the scanned type: the scan read its firmware
             {{0, {}}, 0x1234u},             // no type told: what the scan read is all there is
             {{KT42, {}}, std::nullopt}}) {  // another type: the scanned register is not firmware
        EXPECT_EQ(registers::ShownFirmware(id, hit, VX20_95), shown) << id.deviceType;
    }
}

TEST_F(BusScan, AGarbledReplyIsAskedAgain) {
    addMotor(6);
    open();
    sim->corruptOutputByte(4, 0x10);  // the complement of the destination of the first reply
    const auto outcome = scan(0, 12);
    EXPECT_EQ(Addresses(outcome), std::vector<int>{6});
    EXPECT_GE(outcome.lateReplies, 1);
}

TEST_F(BusScan, ATypeIsToldByItsAddressRegisterAndItsFirmwareReadByItsOwnNumber) {
    addMotor(3, VX20_95)->setValue(kFirmware, 0x8000u | (1u << 6) | 27u);
    addMotor(17, KT42);
    addMotor(200, VX300_700);
    addMotor(201, KT56);
    open();
    std::array<registers::Definitions, 4> defs;
    std::array<const registers::Definitions*, 4> pointers{};
    for (int t = VX20_95; t <= KT56; ++t) {
        ASSERT_TRUE(registers::LoadDefinitions(defs[t - 1], t, false, Shipped()).registersLoaded);
        pointers[t - 1] = &defs[t - 1];
    }
    struct Expected {
        int address;
        int type;
        std::uint32_t firmware;
    };
    for (const Expected& e : {Expected{3, VX20_95, 0x805B}, Expected{17, KT42, 0x805C},
                              Expected{200, VX300_700, 0x805C}, Expected{201, KT56, 0x805C}}) {
        // The chosen type first, as a scan with --type VX20-95 asks.
        const auto id = registers::IdentifyDevice(*link, e.address, pointers, VX20_95,
                                                  registers::ScanConfirmTime(*link, 3));
        EXPECT_EQ(id.deviceType, e.type) << e.address;
        EXPECT_EQ(id.firmware, e.firmware) << e.address;
    }
    EXPECT_EQ(
        registers::IdentifyDevice(*link, 4, pointers, VX20_95, registers::ScanConfirmTime(*link, 3))
            .deviceType,
        0);
}

TEST_F(BusScan, ACancelledScanStopsAskingAndStillChecksWhatItFound) {
    addMotor(2);
    addMotor(40);
    open();
    registers::ScanOptions o;
    o.registerNumber = kFirmware;
    o.progress = [&](int) {};
    int asked = 0;
    o.cancelled = [&] { return ++asked > 10; };
    const auto outcome = registers::ScanBus(*link, o);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_EQ(Addresses(outcome), std::vector<int>{2});
    EXPECT_LE(readDestinations().size(), 12u);
}

TEST(ScanTiming, At115200TheWholeRangeFitsInTwoSeconds) {
    // Line time of 9 + 19 bytes, 10 bits each, plus the default margin.
    serial::TSerCom port("/dev/null", 115200, 8000);
    protocol::RegisterLink link(port);
    const auto wait = registers::ScanTimePerAddress(link, registers::ScanOptions::kDefaultMarginMs);
    EXPECT_EQ(wait.count(), 2431 + 3000);
    EXPECT_LT(255 * wait.count(), 2'000'000);
}

}  // namespace
}  // namespace vindelor::e2e
