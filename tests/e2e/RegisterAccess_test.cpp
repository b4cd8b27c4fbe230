// Register access end to end: the tool's sender and receive thread against the simulated
// register device on a pseudo-terminal.
#include <gtest/gtest.h>

#include "support/SimFixture.h"

namespace vindelor::e2e {
namespace {

using testing::Bytes;
using namespace std::chrono_literals;
using protocol::MsgRegisterValue;

class RegisterAccess : public testing::SimFixture {
  protected:
    void SetUp() override {
        SimFixture::SetUp();
        startThread();
    }
    std::optional<std::uint32_t> read(std::uint8_t reg) {
        sender.SendReadRequest(reg);
        auto m = sink.take(
            [reg](const protocol::ReceivedMessage& r) {
                return r.number == MsgRegisterValue && r.wParam == reg;
            },
            1000ms);
        if (!m) return std::nullopt;
        return static_cast<std::uint32_t>(m->lParam);
    }
};

TEST_F(RegisterAccess, ReadSendsNineBytesAndGetsTheValue) {
    device->setValue(0x20, 0x1234);
    EXPECT_EQ(read(0x20), 0x1234u);
    EXPECT_EQ(sim->received(), (Bytes{0x50, 0x50, 0x50, 0xFF, 0x00, 0x20, 0xDF, 0xAA, 0xAA}));
    EXPECT_EQ(sendEcho, "<50><50><50><FF><00><20><DF><AA><AA>");
}

TEST_F(RegisterAccess, WriteThenReadBackOneAndTwoWordRegisters) {
    device->setWidth(40, 2);
    sender.SendWriteRequest(10, 1, 0xFFFF8001);
    sender.SendWriteRequest(40, 2, 0x89ABCDEF);
    EXPECT_EQ(read(10), 0x8001u);
    EXPECT_EQ(read(40), 0x89ABCDEFu);
    // The two-word register holds its high word in the next register number.
    EXPECT_EQ(device->value(41), 0x89ABu);
}

TEST_F(RegisterAccess, OnATwoWordDeviceNeighbouringRegistersKeepTheirOwnValues) {
    device->setWordsPerRegister(2);
    for (int reg : {16, 17, 255}) device->setWidth(reg, 2);
    sender.SendWriteRequest(17, 2, 0x0000805C);
    sender.SendWriteRequest(16, 2, 0x00018000);
    sender.SendWriteRequest(255, 2, 0x12345678);
    EXPECT_EQ(read(17), 0x805Cu);
    EXPECT_EQ(read(16), 0x00018000u);
    EXPECT_EQ(read(255), 0x12345678u);
}

TEST_F(RegisterAccess, GroupWriteReachesOnlyItsGroup) {
    group = 1;
    sender.SetSequence(7);
    sender.SendGroupWriteRequest(12, 1, 111);
    group = 2;
    sender.SendGroupWriteRequest(13, 1, 222);
    EXPECT_EQ(read(12), 111u);
    EXPECT_EQ(read(13), 0u);
    EXPECT_EQ(device->lastGroupSequence(), 7);
}

TEST_F(RegisterAccess, ARequestToAnotherAddressGetsNoAnswer) {
    address = 17;
    EXPECT_EQ(read(1), std::nullopt);
}

TEST_F(RegisterAccess, CommandsReachTheDeviceAsHeaderOnlyFrames) {
    for (std::uint8_t letter : {protocol::Cmd::Reset, protocol::Cmd::WriteFlash,
                                protocol::Cmd::SafeEnter, protocol::Cmd::SafeExit})
        sender.SendCommand(letter);
    ASSERT_TRUE(sim->waitReceived(28, 1000));
    std::this_thread::sleep_for(20ms);
    const auto frames = device->frames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0].letter, 'W');
    EXPECT_EQ(frames[3].letter, 'U');
    for (const auto& f : frames) EXPECT_TRUE(f.body.empty());
}

TEST_F(RegisterAccess, SampleReplyCarriesTheSelectedRegisters) {
    device->setSampleBase(2);
    device->setValue(2, 10);  // column 1 samples register 10
    device->setValue(3, 11);
    device->setValue(10, 0x0102);
    device->setValue(11, 0x0304);
    sender.SendCommand(protocol::Cmd::Sample);
    auto m = sink.take(protocol::MsgSampleRow, 1000ms);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->payload, (Bytes{0x02, 0x01, 0x04, 0x03, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(RegisterAccess, EveryModuleReplyDecodesEndToEnd) {
    for (std::uint8_t letter : {'0', '@', 'C', 'X', 'a'}) sender.SendCommand(letter);
    sender.SendHeader('Z');
    sender.SendPair(5);
    sender.SendTrailer();
    for (int number :
         {protocol::MsgDebugInfo, protocol::MsgFieldbusData, protocol::MsgDebugData,
          protocol::MsgModuleStatus, protocol::MsgModuleInfo, protocol::MsgModuleRegister})
        EXPECT_TRUE(sink.take(number, 2000ms)) << number;
}

TEST_F(RegisterAccess, ACorruptedReplyIsDroppedAndTheNextOneDecodes) {
    device->setValue(5, 42);
    sim->corruptOutputByte(8, 0x01);
    EXPECT_EQ(read(5), std::nullopt);
    EXPECT_EQ(read(5), 42u);
}

TEST_F(RegisterAccess, RepliesPacedAtTheLineRateStillDecode) {
    sim->setBaudRate(9600);
    device->setValue(6, 77);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(read(6), 77u);
    // Fifteen bytes at 9600 baud take about 15.6 ms on the line.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 15ms);
}

}  // namespace
}  // namespace vindelor::e2e
