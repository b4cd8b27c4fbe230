#include "protocol/Sender.h"

#include <gtest/gtest.h>

#include "protocol/ByteText.h"

namespace vindelor::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct FrameCase {
    const char* name;
    Bytes frame;
    Bytes expected;
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

class Frames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(Frames, AreExactOnTheWire) { EXPECT_EQ(GetParam().frame, GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    RegisterProtocol, Frames,
    ::testing::Values(
        FrameCase {"ReadOfRegister0x20AtAddress255", BuildReadRequest(255, 0x20),
                   {0x50, 0x50, 0x50, 0xFF, 0x00, 0x20, 0xDF, 0xAA, 0xAA}},
        FrameCase {"OneWordWriteOf0x1234", BuildWriteRequest(255, 0x20, 1, 0x1234),
                   {0x52, 0x52, 0x52, 0xFF, 0x00, 0x20, 0xDF, 0x02, 0xFD, 0x34, 0xCB, 0x12, 0xED,
                    0xAA, 0xAA}},
        FrameCase {"TwoWordWriteOf0x0102", BuildWriteRequest(1, 7, 2, 0x0102),
                   {0x52, 0x52, 0x52, 0x01, 0xFE, 0x07, 0xF8, 0x04, 0xFB, 0x02, 0xFD, 0x01, 0xFE,
                    0x00, 0xFF, 0x00, 0xFF, 0xAA, 0xAA}},
        FrameCase {"AddressIsCutToItsLow8Bits", BuildReadRequest(300, 1),
                   {0x50, 0x50, 0x50, 0x2C, 0xD3, 0x01, 0xFE, 0xAA, 0xAA}},
        FrameCase {"GroupWriteCarriesGroupAndSequence", BuildGroupWriteRequest(3, 9, 0x10, 1, 0xBEEF),
                   {0x59, 0x59, 0x59, 0x03, 0xFC, 0x09, 0xF6, 0x10, 0xEF, 0x02, 0xFD, 0xEF, 0x10,
                    0xBE, 0x41, 0xAA, 0xAA}},
        FrameCase {"SequenceIsCutToItsLow8Bits", BuildGroupWriteRequest(1, 256, 0, 1, 0),
                   {0x59, 0x59, 0x59, 0x01, 0xFE, 0x00, 0xFF, 0x00, 0xFF, 0x02, 0xFD, 0x00, 0xFF,
                    0x00, 0xFF, 0xAA, 0xAA}},
        FrameCase {"HeaderOnlyCommand", BuildCommand(255, Cmd::Reset),
                   {0x57, 0x57, 0x57, 0xFF, 0x00, 0xAA, 0xAA}},
        FrameCase {"SampleCommand", BuildCommand(5, Cmd::Sample),
                   {0x53, 0x53, 0x53, 0x05, 0xFA, 0xAA, 0xAA}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Sender, EchoesEveryByteAsOneItem) {
    Bytes out;
    std::vector<std::string> items;
    Sender s = Sender::Capture(out, 255);
    s.setEcho([&](std::string_view item) { items.emplace_back(item); });
    s.SendPair(0x20);
    s.SendTrailer();
    EXPECT_EQ(items, (std::vector<std::string> {"<20>", "<DF>", "<AA>", "<AA>"}));
}

TEST(Sender, AnAddressThatIsNotANumberGoesOutAsZero) {
    Bytes out;
    Sender s = Sender::Capture(out, 0);
    s.setAddressSource([] { return DecimalOrZero("abc"); });
    s.SendHeader('P');
    EXPECT_EQ(out, (Bytes {0x50, 0x50, 0x50, 0x00, 0xFF}));
}

TEST(Sender, Sequence255AdvancedOnceSendsZero) {
    Bytes out;
    Sender s = Sender::Capture(out, 0, 1);
    s.SetSequence(255);
    s.NextSequence();
    s.SendGroupWriteRequest(1, 1, 0);
    EXPECT_EQ(out[5], 0x00);
    EXPECT_EQ(out[6], 0xFF);
}

TEST(Sender, WithoutAPortEverySendFailsAsAPortError) {
    Sender s;
    try {
        s.SendReadRequest(1);
        FAIL() << "no error";
    } catch (const serial::TSerErr& e) {
        EXPECT_EQ(e.Code, 3);
    }
}

TEST(DecimalOrZero, ReadsDecimalTextAndNothingElse) {
    const std::pair<const char*, int> cases[] = {
        {"255", 255}, {" 12 ", 12}, {"-3", -3}, {"+7", 7}, {"", 0},
        {"abc", 0},   {"12a", 0},   {"0x10", 0}, {"99999999999", 0},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(DecimalOrZero(text), value) << text;
}

TEST(TextRoutines, ByteAndBinaryText) {
    EXPECT_EQ(ByteText(0x0A), "<0A>");
    EXPECT_EQ(ByteText(0xFF), "<FF>");
    EXPECT_EQ(BinaryText(0xA5, 8), "0b1010'0101");
    EXPECT_EQ(BinaryText(0x0123, 16), "0b0000'0001'0010'0011");
    EXPECT_EQ(BinaryText(5, 3), "0b101");
}

}  // namespace
}  // namespace vindelor::protocol
