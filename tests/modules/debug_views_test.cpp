// The texts of the debug status block, the Profibus data and the debug area, and the values
// of "Write Profi Data".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modules/DebugViews.h"
#include "modules/IntegerText.h"

namespace vindelor::modules {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Everything up to the mode line, for a block with only byte 7 set.
const std::string kQuietHead =
    "Current State\t: 0\r\rTimer Status\t: 0\rCounter Status\t: 0\rError Flag\t: 0\rIn Position\t: 0\r\r"
    "Inputs\t\t: 000000\rOutputs\t\t: 000000\r\rTimer\t\t: 0\rCounter\t\t: 0\r";

TEST(DebugStatusText, ShowsEveryPieceOfTheBlock) {
    const Bytes block = {0xC5, 0xA9, 0xFE, 0x34, 0x12, 0x02, 0x01, 0x25};
    EXPECT_EQ(DebugStatusText(block),
              "Current State\t: 5\r\rTimer Status\t: 1\rCounter Status\t: 1\rError Flag\t: 1\rIn Position\t: 0\r\r"
              "Inputs\t\t: 101001\rOutputs\t\t: 111110\r\rTimer\t\t: 4660\rCounter\t\t: 258\r"
              "Mode Command: Velocity Mode, Position 6");
}

struct ModeCase {
    std::uint8_t byte7;
    const char* tail;
};

class DebugModeLine : public ::testing::TestWithParam<ModeCase> {};

TEST_P(DebugModeLine, NamesTheModeAndTheCommandOrTarget) {
    const Bytes block = {0, 0, 0, 0, 0, 0, 0, GetParam().byte7};
    EXPECT_EQ(DebugStatusText(block), kQuietHead + "Mode Command: " + GetParam().tail);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DebugModeLine,
    ::testing::Values(ModeCase {0x7F, "Command Mode, Command : 31"}, ModeCase {0x13, "Init Mode, Acelleration 4"},
                      ModeCase {0x0B, "Init Mode, Velocity 4"}, ModeCase {0x40, "Position Mode, Position 1"},
                      ModeCase {0x1C, "Init Mode, Zero 1"}, ModeCase {0x17, "Init Mode, Torque 4"},
                      ModeCase {0x60, "Command Mode, Command : 0"}));

TEST(DebugStatusText, BytesAShortBlockLacksReadAsZero) {
    EXPECT_EQ(DebugStatusText(Bytes {}), kQuietHead + "Mode Command: Init Mode, Position 1");
}

TEST(ProfiDataText, ShowsTheFirstEightBytesAndZeroForMissingOnes) {
    const Bytes data = {0x01, 0x80, 0x55};
    std::string expected = "Data 0: 0x01 \t(00000001)\rData 1: 0x80 \t(10000000)\rData 2: 0x55 \t(01010101)\r";
    for (int i = 3; i < 8; ++i) expected += "Data " + std::to_string(i) + ": 0x00 \t(00000000)\r";
    EXPECT_EQ(ProfiDataText(data), expected);
    Bytes nine(9, 0xFF);
    EXPECT_EQ(ProfiDataText(nine).find("Data 8"), std::string::npos);
}

TEST(DebugAreaText, SixteenRowsWithTheExtraBlankAfterTheNinthByte) {
    Bytes data(255);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
    const std::string text = DebugAreaText(data);
    EXPECT_EQ(text.substr(0, 60), "00: \r00 01 02 03 04 05 06 07 08  09 0A 0B 0C 0D 0E 0F \r10: \r");
    // The 256th byte is not in a 'C' reply (its count is one byte): it shows as 00.
    EXPECT_EQ(text.substr(text.size() - 55), "f0: \rF0 F1 F2 F3 F4 F5 F6 F7 F8  F9 FA FB FC FD FE 00 \r");
    std::size_t rows = 0;
    for (std::size_t at = text.find(": \r"); at != std::string::npos; at = text.find(": \r", at + 1)) ++rows;
    EXPECT_EQ(rows, 16u);
}

struct ProfiCase {
    const char* text;
    Bytes data;
};

class ProfiWriteValues : public ::testing::TestWithParam<ProfiCase> {};

TEST_P(ProfiWriteValues, SplitAtCommaSemicolonAndBlank) {
    const auto data = ParseProfiData(GetParam().text);
    EXPECT_EQ(Bytes(data.begin(), data.end()), GetParam().data);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProfiWriteValues,
                         ::testing::Values(ProfiCase {"1,2,3", {1, 2, 3, 0, 0, 0, 0, 0, 0}},
                                           ProfiCase {"1 2;3", {1, 2, 3, 0, 0, 0, 0, 0, 0}},
                                           ProfiCase {"1,2,3,", {1, 2, 3, 0, 0, 0, 0, 0, 0}},
                                           ProfiCase {"300", {0x2C, 0, 0, 0, 0, 0, 0, 0, 0}},
                                           ProfiCase {"", {0, 0, 0, 0, 0, 0, 0, 0, 0}},
                                           ProfiCase {"-1", {0xFF, 0, 0, 0, 0, 0, 0, 0, 0}},
                                           ProfiCase {"1,2,3,4,5,6,7,8,9", {1, 2, 3, 4, 5, 6, 7, 8, 9}}));

TEST(ProfiWriteValues, BadPiecesAndTooManyValuesAreRefused) {
    for (const char* text : {"1,,2", ",1", "x", "1;2a", " ", "1,2,3,4,5,6,7,8,9,10"})
        EXPECT_THROW(ParseProfiData(text), ConversionError) << text;
    try {
        ParseProfiData("1,2,3,4,5,6,7,8,9,10");
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "At most 9 values can be written; the text holds 10");
    }
}

TEST(ReadInteger, TakesSignedDecimalsOnly) {
    EXPECT_EQ(ReadInteger("1234"), 1234);
    EXPECT_EQ(ReadInteger("-7"), -7);
    EXPECT_EQ(ReadInteger("+7"), 7);
    EXPECT_EQ(ReadInteger("-2147483648"), INT32_MIN);
    for (const char* bad : {"", "+", "-", "+-1", "0x10", "1 ", " 1", "2147483648", "1.5"})
        EXPECT_THROW(ReadInteger(bad), ConversionError) << bad;
    try {
        ReadInteger("12a");
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "'12a' is not a valid integer value");
    }
}

}  // namespace
}  // namespace vindelor::modules
