// The expansion-module tools on a serial line against the simulated device, byte for byte:
// the group-write module's requests and replies, the debug and fieldbus views, and the motor
// tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modules/DebugViews.h"
#include "modules/GroupModule.h"
#include "modules/IntegerText.h"
#include "modules/MotorTests.h"
#include "registers/Definitions.h"
#include "support/RecordingNotifier.h"
#include "support/SimFixture.h"

namespace vindelor::modules {
namespace {

using testing::Bytes;
using namespace std::chrono_literals;
constexpr int kPatienceMs = 5000;

class ModuleToolsTest : public testing::SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        const auto loaded = registers::LoadDefinitions(defs, registers::VX20_95, false, VINDELOR_SOURCE_DIR "/defs");
        ASSERT_TRUE(loaded.registersLoaded);
    }

    // The bytes the device has been sent since the last call (0 expected: none within a short
    // while).
    Bytes sent(std::size_t expected) {
        sim->waitReceived(expected, expected ? kPatienceMs : 100);
        std::this_thread::sleep_for(20ms);  // anything beyond what was expected shows too
        Bytes bytes = sim->received();
        sim->clearReceived();
        return bytes;
    }

    // The frame of a 4-byte register write to the device address.
    static Bytes Write4(std::uint8_t reg, std::uint32_t v) {
        Bytes b = {0x52, 0x52, 0x52, 0xFF, 0x00, reg, static_cast<std::uint8_t>(~reg), 0x04, 0xFB};
        for (int i = 0; i < 4; ++i) {
            const auto x = static_cast<std::uint8_t>(v >> (8 * i));
            b.push_back(x);
            b.push_back(static_cast<std::uint8_t>(~x));
        }
        b.insert(b.end(), {0xAA, 0xAA});
        return b;
    }

    registers::Definitions defs;
    vindelor::testing::RecordingNotifier notes;
};

// --- Group write and module registers ---

struct GroupCase {
    const char* name;
    GroupWriteTexts texts;
    Bytes bytes;
    const char* nextSequence;  // nullptr: the box is not touched
    const char* error;         // nullptr: no error
};

class GroupWriteFrames : public ModuleToolsTest, public ::testing::WithParamInterface<GroupCase> {};

TEST_P(GroupWriteFrames, GoOutUpToTheFirstFailure) {
    const GroupCase& c = GetParam();
    std::string next = "untouched";
    try {
        SendModuleGroupWrite(sender, defs, c.texts, [&](const std::string& s) { next = s; });
        EXPECT_EQ(c.error, nullptr);
    } catch (const std::exception& e) {
        ASSERT_NE(c.error, nullptr) << e.what();
        EXPECT_STREQ(e.what(), c.error);
    }
    EXPECT_EQ(sent(c.bytes.size()), c.bytes);
    EXPECT_EQ(sendEcho, Echo(c.bytes));
    EXPECT_EQ(next, c.nextSequence ? c.nextSequence : "untouched");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GroupWriteFrames,
    ::testing::Values(
        GroupCase {"start texts", {"5", "1", "3", "1234"},
                   {0x59, 0x59, 0x59, 0x05, 0xFA, 0x01, 0xFE, 0x03, 0xFC, 0x02, 0xFD, 0xD2, 0x2D, 0x04, 0xFB, 0xAA, 0xAA},
                   "2", nullptr},
        GroupCase {"sequence 255", {"5", "255", "3", "1234"},
                   {0x59, 0x59, 0x59, 0x05, 0xFA, 0xFF, 0x00, 0x03, 0xFC, 0x02, 0xFD, 0xD2, 0x2D, 0x04, 0xFB, 0xAA, 0xAA},
                   "0", nullptr},
        GroupCase {"negative sequence", {"5", "-5", "3", "1"},
                   {0x59, 0x59, 0x59, 0x05, 0xFA, 0xFB, 0x04, 0x03, 0xFC, 0x02, 0xFD, 0x01, 0xFE, 0x00, 0xFF, 0xAA, 0xAA},
                   "-4", nullptr},
        GroupCase {"two-word register", {"9", "7", "7", "-2"},
                   {0x59, 0x59, 0x59, 0x09, 0xF6, 0x07, 0xF8, 0x07, 0xF8, 0x04, 0xFB,
                    0xFE, 0x01, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xAA, 0xAA},
                   "8", nullptr},
        GroupCase {"unknown register", {"5", "1", "200", "1234"},
                   {0x59, 0x59, 0x59, 0x05, 0xFA, 0x01, 0xFE, 0xC8, 0x37}, "2", "Could not find parameter"},
        GroupCase {"bad group", {"five", "1", "3", "1234"}, {0x59, 0x59, 0x59}, nullptr,
                   "'five' is not a valid integer value"},
        GroupCase {"bad value", {"5", "1", "3", "12.5"}, {0x59, 0x59, 0x59, 0x05, 0xFA, 0x01, 0xFE, 0x03, 0xFC}, "2",
                   "'12.5' is not a valid integer value"}),
    [](const auto& param) {
        std::string n = param.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

TEST_F(ModuleToolsTest, GroupWriteReachesTheModulesOfItsGroup) {
    device->setGroup(5);
    SendModuleGroupWrite(sender, defs, {"5", "1", "3", "1234"}, {});
    sent(17);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(device->lastGroupSequence(), 1);
    EXPECT_EQ(device->value(3), 1234u);
}

TEST_F(ModuleToolsTest, ModuleRegisterWriteWithTheStartTexts) {
    SendModuleRegisterWrite(sender, "11", "1");
    const Bytes expected = {0x5B, 0x5B, 0x5B, 0xFF, 0x00, 0x0B, 0xF4, 0x04, 0xFB, 0x01, 0xFE,
                            0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0xAA, 0xAA};
    EXPECT_EQ(sent(expected.size()), expected);
    EXPECT_EQ(device->moduleRegister(11), 1);
}

TEST_F(ModuleToolsTest, ABadModuleValueSendsNothingAndABadRegisterOnlyTheHeader) {
    EXPECT_THROW(SendModuleRegisterWrite(sender, "11", "one"), ConversionError);
    EXPECT_EQ(sent(0), Bytes {});
    EXPECT_THROW(SendModuleRegisterWrite(sender, "x", "1"), ConversionError);
    EXPECT_EQ(sent(5), (Bytes {0x5B, 0x5B, 0x5B, 0xFF, 0x00}));
    EXPECT_THROW(SendModuleRegisterRead(sender, ""), ConversionError);
    EXPECT_EQ(sent(5), (Bytes {0x5A, 0x5A, 0x5A, 0xFF, 0x00}));
}

TEST_F(ModuleToolsTest, ModuleRegisterReadShowsTheValueSigned) {
    startThread();
    device->setModuleRegister(11, -1);
    SendModuleRegisterRead(sender, "11");
    EXPECT_EQ(sent(9), (Bytes {0x5A, 0x5A, 0x5A, 0xFF, 0x00, 0x0B, 0xF4, 0xAA, 0xAA}));
    const auto reply = sink.take(protocol::MsgModuleRegister, 5s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(ModuleRegisterText(static_cast<int>(reply->wParam), static_cast<std::uint32_t>(reply->lParam)), "11 = -1");
}

TEST_F(ModuleToolsTest, StatusReplyIsShownFromItsBlock) {
    startThread();
    device->setModuleStatus({0x02, 0x00, 0xE8, 0x03, 0x00, 0x00, 0x07, 0x05});
    SendModuleStatusRequest(sender);
    EXPECT_EQ(sent(7), (Bytes {0x58, 0x58, 0x58, 0xFF, 0x00, 0xAA, 0xAA}));
    const auto reply = sink.take(protocol::MsgModuleStatus, 5s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload.size(), 108u);
    EXPECT_EQ(ModuleStatusText(reply->payload),
              "Actual position = 1000\r\nModuleStatus = 0b0000'0000'0000'0010\r\n"
              "Last group sequence = 5\r\nRecieve errors = 7\r\n");
}

// --- Debug and fieldbus views ---

struct RequestCase {
    std::uint8_t command;
    int replyMessage;  // 0: none
};

class DebugRequests : public ModuleToolsTest, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(DebugRequests, AreTheHeaderAndTrailerAndGetTheirReply) {
    startThread();
    SendDebugRequest(sender, GetParam().command);
    const std::uint8_t c = GetParam().command;
    EXPECT_EQ(sent(7), (Bytes {c, c, c, 0xFF, 0x00, 0xAA, 0xAA}));
    if (GetParam().replyMessage) {
        EXPECT_TRUE(sink.take(GetParam().replyMessage, 5s));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DebugRequests,
                         ::testing::Values(RequestCase {'0', protocol::MsgDebugInfo}, RequestCase {'3', 0},
                                           RequestCase {'2', 0}, RequestCase {'@', protocol::MsgFieldbusData},
                                           RequestCase {'C', protocol::MsgDebugData}));

TEST_F(ModuleToolsTest, DebugInfoReplyShowsTheTimer) {
    startThread();
    device->setDebugInfo({0x01, 0x00, 0x00, 0x34, 0x12, 0x00, 0x00, 0x7F});
    SendDebugRequest(sender, DebugCmd::ReadDebugInfo);
    const auto reply = sink.take(protocol::MsgDebugInfo, 5s);
    ASSERT_TRUE(reply);
    const std::string text = DebugStatusText(reply->payload);
    EXPECT_NE(text.find("Timer\t\t: 4660\r"), std::string::npos) << text;
    EXPECT_NE(text.find("Mode Command: Command Mode, Command : 31"), std::string::npos) << text;
}

TEST_F(ModuleToolsTest, ProfiDataWrittenIsReadBack) {
    startThread();
    const auto data = ParseProfiData("1,2,3");
    SendDebugRequest(sender, DebugCmd::WriteProfiData, data);
    Bytes expected = {0x41, 0x41, 0x41, 0xFF, 0x00, 0x01, 0xFE, 0x02, 0xFD, 0x03, 0xFC};
    for (int i = 0; i < 6; ++i) expected.insert(expected.end(), {0x00, 0xFF});
    expected.insert(expected.end(), {0xAA, 0xAA});
    EXPECT_EQ(sent(expected.size()), expected);
    SendDebugRequest(sender, DebugCmd::ReadProfiData);
    const auto reply = sink.take(protocol::MsgFieldbusData, 5s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(ProfiDataText(reply->payload).substr(0, 50), "Data 0: 0x01 \t(00000001)\rData 1: 0x02 \t(00000010)\r");
}

TEST_F(ModuleToolsTest, AShortDebugAreaShowsZerosForTheRest) {
    startThread();
    device->setDebugData({0xAB, 0xCD});
    SendDebugRequest(sender, DebugCmd::ReadDebugData);
    const auto reply = sink.take(protocol::MsgDebugData, 5s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(DebugAreaText(reply->payload).substr(0, 33), "00: \rAB CD 00 00 00 00 00 00 00  ");
}

// --- Break and rotation tests ---

TEST_F(ModuleToolsTest, BreakTestWritesThreeZeroThreeToRegisterTwo) {
    BreakTest test;
    test.Tick(sender);
    const Bytes first = {0x52, 0x52, 0x52, 0xFF, 0x00, 0x02, 0xFD, 0x04, 0xFB, 0x03,
                         0xFC, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0xAA, 0xAA};
    EXPECT_EQ(sent(first.size()), first);
    EXPECT_EQ(Write4(2, 3), first);
    test.Tick(sender);
    EXPECT_EQ(sent(19), Write4(2, 0));
    test.Tick(sender);
    EXPECT_EQ(sent(19), Write4(2, 3));
}

TEST_F(ModuleToolsTest, AFourByteWriteStoresAsManyWordsAsTheRegisterHas) {
    // Register 3 follows the one-word register 2; register 7 has two words.
    device->setValue(3, 1234);
    device->setWidth(7, 2);
    BreakTest test;
    test.Tick(sender);
    WriteRegister4(sender, 7, 0x00050006);
    sent(2 * 19);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(device->value(2), 3u);
    EXPECT_EQ(device->value(3), 1234u);
    EXPECT_EQ(device->value(7), 0x00050006u);
}

TEST_F(ModuleToolsTest, RotationStepsRegister176AndTheMotorFollows) {
    device->followRotation(7);
    Rotation rotation;
    Rotation::Start(sender);
    EXPECT_EQ(sent(19), Write4(2, 7));
    for (std::int32_t expected : {5, 10, 15}) {
        EXPECT_EQ(rotation.Tick(sender, notes, 5), expected);
        EXPECT_EQ(sent(19), Write4(176, static_cast<std::uint32_t>(expected)));
    }
    EXPECT_EQ(device->value(7), 15u);
    EXPECT_EQ(rotation.Tick(sender, notes, 0), 15);
    EXPECT_EQ(sent(19), Write4(176, 15));
    Rotation::Stop(sender);
    EXPECT_EQ(sent(19), Write4(2, 0));
    EXPECT_TRUE(notes.boxes.empty());
}

TEST_F(ModuleToolsTest, RotationWrapsAt1143ButTheTotalGoesOn) {
    Rotation rotation;
    for (int i = 0; i < 11; ++i) rotation.Tick(sender, notes, 100);
    EXPECT_EQ(rotation.Tick(sender, notes, 45), 2);
    EXPECT_EQ(rotation.Total(), 1145);
    const Bytes all = sent(12 * 19);
    ASSERT_EQ(all.size(), 12u * 19);
    EXPECT_EQ(Bytes(all.end() - 19, all.end()), Write4(176, 2));
}

}  // namespace
}  // namespace vindelor::modules
