// Several simulated motors on one line: who answers what, what a collision leaves of the
// replies, and group writes; the tool's side is the register link on a borrowed port.
#include <gtest/gtest.h>

#include <thread>

#include "protocol/Sender.h"
#include "support/LineFixture.h"

namespace vindelor::e2e {
namespace {

using namespace std::chrono_literals;
using registers::KT42;
using registers::VX20_95;
using registers::VX300_700;

constexpr int kFirmware = 20;  // a VX20-95's FIRMWARE register
constexpr auto kWait = 200ms;

class RegisterLine : public testing::LineFixture {};

TEST_F(RegisterLine, EachDeviceAnswersItsOwnAddressOnly) {
    addMotor(3)->setValue(kFirmware, 0x8101);
    addMotor(17)->setValue(kFirmware, 0x8102);
    open();
    EXPECT_EQ(link->read(3, kFirmware, kWait)->value, 0x8101u);
    EXPECT_EQ(link->read(17, kFirmware, kWait)->value, 0x8102u);
    EXPECT_EQ(link->read(4, kFirmware, kWait), std::nullopt);
    EXPECT_EQ(link->bytesHeard(), 0u);
}

TEST_F(RegisterLine, AReadToEveryoneIsAnsweredByALoneDeviceAndCollidesOnASharedLine) {
    addMotor(3);
    open();
    EXPECT_TRUE(link->read(255, kFirmware, kWait));
    addMotor(17);
    link->discardInput();
    EXPECT_EQ(link->read(255, kFirmware, kWait), std::nullopt);
    EXPECT_GT(link->bytesHeard(), 0u);  // the line carried the garbled replies
    EXPECT_EQ(line->collisions(), 1);
}

TEST(RegisterLineCollision, EvenEqualRepliesBreakSinceNoTwoTransmittersStartTogether) {
    const std::vector<std::uint8_t> reply = {'R',  'R',  'R',  0x00, 0xFF, 0x14, 0xEB, 0x02,
                                             0xFD, 0x5C, 0xA3, 0x80, 0x7F, 0xAA, 0xAA};
    const auto seen = sim::RegisterBus::Collide({reply, reply});
    ASSERT_EQ(seen.size(), reply.size());
    EXPECT_NE(seen, reply);
    EXPECT_NE(seen[4],
              static_cast<std::uint8_t>(~seen[3]));  // the destination pair no longer checks
}

TEST_F(RegisterLine, AGroupWriteReachesEveryDeviceOfTheGroup) {
    auto a = addMotor(3, VX20_95, 0, 1);
    auto b = addMotor(17, KT42, 0, 1);
    auto c = addMotor(200, VX300_700, 0, 2);
    open();
    std::vector<std::uint8_t> frame = protocol::BuildGroupWriteRequest(1, 5, 60, 1, 1234);
    port->SendString(frame.data(), static_cast<int>(frame.size()));
    ASSERT_TRUE(sim->waitReceived(frame.size(), 1000));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(a->value(60), 1234u);
    EXPECT_EQ(b->value(60), 1234u);
    EXPECT_EQ(c->value(60), 0u);
    EXPECT_EQ(a->lastGroupSequence(), 5);
}

TEST_F(RegisterLine, AMotorKeepsItsAddressAndGroupInItsRegisters) {
    const auto m = addMotor(17, KT42, 0, 4);
    registers::Definitions defs;
    ASSERT_TRUE(registers::LoadDefinitions(defs, KT42, false, Shipped()).registersLoaded);
    EXPECT_EQ(m->value(defs.findRegisterByName("ADDRESS")), 17u);
    EXPECT_EQ(m->value(defs.findRegisterByName("GROUP")), 4u);
}

TEST(DeviceList, ReadsAddressesAndTypesAndRefusesWhatDoesNotFit) {
    std::string error;
    const auto members = sim::ParseDeviceList("3:VX20-95,17:KT42,200:VX300/700", error);
    ASSERT_TRUE(members) << error;
    ASSERT_EQ(members->size(), 3u);
    EXPECT_EQ((*members)[1].address, 17);
    EXPECT_EQ((*members)[1].deviceType, KT42);
    EXPECT_EQ((*members)[2].deviceType, VX300_700);
    for (const char* bad :
         {"", "3", "3:VX99", "x:KT42", "255:KT42", "-1:KT42", "3:KT42,3:KT56", "3:KT42,"}) {
        error.clear();
        EXPECT_FALSE(sim::ParseDeviceList(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

}  // namespace
}  // namespace vindelor::e2e
