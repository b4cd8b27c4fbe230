// The program encoder: encodings, label table, jump addresses and shortening, and its log.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "program/TVarpCode.h"
#include "program/VarpModule.h"
#include "program/VarpError.h"
#include "support/TempDir.h"

namespace vindelor::program {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder per test for the encoder's log.
class VarpCodeTest : public ::testing::Test {
protected:
    std::string ReadLog() const {
        std::ifstream in(log_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    testing::TempDir tmp_;
    const std::filesystem::path& dir_ = tmp_.path();
    const std::string log_ = tmp_.file("VarpWare.Log");
};

std::string Lines(std::initializer_list<const char*> lines) {
    std::string out;
    for (const char* l : lines) out += std::string(l) + "\r\n";
    return out;
}

TEST_F(VarpCodeTest, SampleProgramIsEncodedWithLongJumpsBeforeOptimising) {
    TVarpCode code(1000, log_);
    AddSampleProgram(code);
    EXPECT_EQ(code.GetSize(), 17);
    EXPECT_EQ(code.GetCode(), (Bytes {0x05, 0x35, 0x63, 0x00, 0x00, 0x08, 0x11, 0x05, 0x34, 0x63, 0x00, 0x00,
                                      0x08, 0x01, 0x61, 0x00, 0x00}));
    // Address of each command is the sum of the lengths before it.
    std::vector<std::uint16_t> addresses;
    for (const auto& c : code.GetCommands()) addresses.push_back(c.Address);
    EXPECT_EQ(addresses, (std::vector<std::uint16_t> {0, 2, 5, 7, 9, 12, 14}));
}

TEST_F(VarpCodeTest, SampleProgramIsShortenedToFourteenBytes) {
    TVarpCode code(1000, log_);
    AddSampleProgram(code);
    code.Optimise();
    EXPECT_EQ(code.GetSize(), 14);
    EXPECT_EQ(code.GetCode(),
              (Bytes {0x05, 0x35, 0x62, 0x02, 0x08, 0x11, 0x05, 0x34, 0x62, 0xF6, 0x08, 0x01, 0x60, 0xF2}));
}

TEST_F(VarpCodeTest, SampleProgramLogsEveryStep) {
    {
        TVarpCode code(1000, log_);
        AddSampleProgram(code);
        code.Optimise();
    }
    const std::string dumpBefore = Lines({
        "",
        "Program Dump:",
        "000:0000: 0x05 0x35 Test input 5 Edge: 1 High: 1",
        "001:0002: 0x63 0x00 0x00 Jump condition: 1 Abs: 0x0000",
        "002:0005: 0x08 0x11 Output action",
        "003:0007: 0x05 0x34 Test input 4 Edge: 1 High: 1",
        "004:0009: 0x63 0x00 0x00 Jump condition: 1 Abs: 0x0000",
        "005:000C: 0x08 0x01 Output action",
        "006:000E: 0x61 0x00 0x00 Jump condition: 0 Abs: 0x0000",
    });
    const std::string dumpFirstPass = Lines({
        "",
        "Program Dump:",
        "000:0000: 0x05 0x35 Test input 5 Edge: 1 High: 1",
        "001:0002: 0x63 0x07 0x00 Jump condition: 1 Abs: 0x0007",
        "002:0005: 0x08 0x11 Output action",
        "003:0007: 0x05 0x34 Test input 4 Edge: 1 High: 1",
        "004:0009: 0x63 0x00 0x00 Jump condition: 1 Abs: 0x0000",
        "005:000C: 0x08 0x01 Output action",
        "006:000E: 0x61 0x00 0x00 Jump condition: 0 Abs: 0x0000",
    });
    const std::string dumpAfter = Lines({
        "",
        "Program Dump:",
        "000:0000: 0x05 0x35 Test input 5 Edge: 1 High: 1",
        "001:0002: 0x62 0x02 Jump condition: 1 Rel: 0x02 (2 dec)",
        "002:0004: 0x08 0x11 Output action",
        "003:0006: 0x05 0x34 Test input 4 Edge: 1 High: 1",
        "004:0008: 0x62 0xF6 Jump condition: 1 Rel: 0xF6 (-10 dec)",
        "005:000A: 0x08 0x01 Output action",
        "006:000C: 0x60 0xF2 Jump condition: 0 Rel: 0xF2 (-14 dec)",
    });
    const std::string expected =
        "\r\nProgram without small jumps, and without destinations:\r\n" + dumpBefore +
        "\r\nUpdating Addresses in jump commands...\r\n" + dumpFirstPass +
        "\r\nSearching for replacable long jumps...\r\n" +
        Lines({" Jump Command at 0x0002 changed to short", " Jump Command at 0x0008 changed to short",
               " Jump Command at 0x000C changed to short"}) +
        "\r\nUpdating Addresses in jump commands...\r\n" + dumpAfter +
        "\r\nSearching for replacable long jumps...\r\n" + "None found :D";
    EXPECT_EQ(ReadLog(), expected);
}

TEST_F(VarpCodeTest, ConstructionTruncatesAnOldLog) {
    {
        std::ofstream old(log_, std::ios::binary);
        old << "an older build";
    }
    TVarpCode code(10, log_);
    EXPECT_EQ(ReadLog(), "");
}

TEST_F(VarpCodeTest, WriteLogAppendsTheTextAsItIs) {
    {
        TVarpCode code(10, log_);
        code.WriteLog("a");
        code.WriteLog("b\r\n");
        code.WriteLog("");
    }
    EXPECT_EQ(ReadLog(), "ab\r\n");
}

TEST_F(VarpCodeTest, LogThatCannotBeCreatedStopsTheBuild) {
    const std::string missing = (dir_ / "no-such-folder" / "VarpWare.Log").string();
    EXPECT_THROW(TVarpCode(1000, missing), VarpError);
}

TEST_F(VarpCodeTest, EncodesEveryOpcodeOfAddCommand) {
    struct Case {
        std::uint8_t opcode;
        Bytes bytes;
    };
    const Case cases[] = {
        {0, {0x00}},
        {1, {0x01}},
        {2, {0x02}},
        {3, {}},
        {4, {0x04, 0xA1, 0xB2, 0xC3}},
        {5, {0x05, 0xA1}},
        {6, {0x06}},
        {7, {0x07, 0xA1}},
        {8, {0x08, 0xA1}},
        {9, {}},
        {0x60, {}},
        {0xFF, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.opcode));
        TVarpCode code(10, log_);
        EXPECT_EQ(code.AddCommand(0, c.opcode, 0xA1, 0xB2, 0xC3), c.bytes.size());
        EXPECT_EQ(code.GetCode(), c.bytes);
        EXPECT_EQ(code.GetCommands().at(0).Length, c.bytes.size());
        EXPECT_EQ(code.GetCommands().at(0).IsJump, 0);
        EXPECT_EQ(code.GetCommands().at(0).Target, 0xFFFF);
    }
}

TEST_F(VarpCodeTest, TestInputAndOutputActionFillTheirBitFields) {
    struct Case {
        int mode;
        int input;
        std::uint8_t operand;
    };
    // Mode 0 high level, 1 low level, 2 edge with high, 3 edge with low.
    const Case tests[] = {{0, 0, 0x10}, {1, 15, 0x0F}, {2, 5, 0x35}, {3, 9, 0x29}};
    for (const Case& c : tests) {
        TVarpCode code(10, log_);
        code.AddTestInput(0, static_cast<std::uint8_t>(c.mode), static_cast<std::uint8_t>(c.input));
        EXPECT_EQ(code.GetCode(), (Bytes {0x05, c.operand})) << "mode " << c.mode;
    }
    struct Output {
        int action;
        int output;
        std::uint8_t operand;
    };
    const Output outputs[] = {{0, 1, 0x00}, {1, 2, 0x11}, {15, 16, 0xFF}};
    for (const Output& c : outputs) {
        TVarpCode code(10, log_);
        code.AddOutputAction(0, static_cast<std::uint8_t>(c.action), static_cast<std::uint8_t>(c.output));
        EXPECT_EQ(code.GetCode(), (Bytes {0x08, c.operand})) << "action " << c.action;
    }
}

TEST_F(VarpCodeTest, RefusesOperandsThatWouldSpillIntoNeighbouringFields) {
    TVarpCode code(10, log_);
    EXPECT_THROW(code.AddTestInput(0, 4, 1), VarpError);
    EXPECT_THROW(code.AddTestInput(0, 0, 16), VarpError);
    EXPECT_THROW(code.AddOutputAction(0, 16, 1), VarpError);
    EXPECT_THROW(code.AddOutputAction(0, 0, 0), VarpError);
    EXPECT_THROW(code.AddOutputAction(0, 0, 17), VarpError);
    EXPECT_THROW(code.AddJump(0, 4, 0), VarpError);  // would read as a call
    EXPECT_EQ(code.GetSize(), 0);
    EXPECT_TRUE(code.GetCommands().empty());
}

TEST_F(VarpCodeTest, RefusesLabelsAboveTheTableAndLeavesItAlone) {
    TVarpCode code(5, log_);
    try {
        code.AddCommand(6, 0);
        FAIL() << "label 6 was taken";
    } catch (const VarpError& e) {
        EXPECT_STREQ(e.what(), "Label 6 is above the highest label 5");
    }
    EXPECT_THROW(code.AddJump(0xFFFF, 0, 0), VarpError);
    EXPECT_THROW(code.AddTestInput(6, 0, 0), VarpError);
    EXPECT_THROW(code.AddOutputAction(6, 0, 1), VarpError);
    EXPECT_TRUE(code.GetCommands().empty());
    EXPECT_EQ(code.GetLabels(), std::vector<std::int32_t>(6, -1));
    code.AddCommand(5, 0);  // the highest label itself is fine
    EXPECT_EQ(code.GetLabels().at(5), 0);
}

TEST_F(VarpCodeTest, JumpToALabelNoCommandBearsIsRefused) {
    TVarpCode code(100, log_);
    code.AddCommand(3, 0);
    code.AddJump(0, 0, 4);  // neither 4 nor anything above up to 100 is borne
    try {
        code.Optimise();
        FAIL() << "the program was optimised";
    } catch (const VarpError& e) {
        EXPECT_STREQ(e.what(),
                     "The jump of command 1 goes to label 4, but no command bears that label or a higher one up to 100");
    }
    EXPECT_EQ(ReadLog(), "");
}

TEST_F(VarpCodeTest, FirstCommandWithALabelDefinesIt) {
    TVarpCode code(10, log_);
    code.AddCommand(2, 1);
    code.AddCommand(2, 1);
    code.AddCommand(0, 0);
    code.AddCommand(2, 6);
    EXPECT_EQ(code.GetLabels().at(2), 0);
    EXPECT_EQ(code.GetLabels().at(0), 2);
}

TEST_F(VarpCodeTest, UnusedLabelsStandForTheNextHigherLabelABorneCommandHas) {
    TVarpCode code(6, log_);
    code.AddCommand(1, 0);
    code.AddCommand(4, 0);
    code.AddCommand(0, 0);
    code.Optimise();
    // Labels 2 and 3 stand for 4; 5 and 6 are above every borne label.
    EXPECT_EQ(code.GetLabels(), (std::vector<std::int32_t> {2, 0, 1, 1, 1, -1, -1}));
}

TEST_F(VarpCodeTest, JumpToAnUnusedLabelGoesToTheNextHigherOne) {
    TVarpCode code(10, log_);
    code.AddJump(0, 0, 2);  // label 2 is borne by nothing: it stands for label 3
    code.AddCommand(0, 1);
    code.AddCommand(3, 0);
    code.Optimise();
    EXPECT_EQ(code.GetCode(), (Bytes {0x60, 0x01, 0x01, 0x00}));
}

TEST_F(VarpCodeTest, RecordsWithoutBytesDefineLabelsAtTheNextCommand) {
    TVarpCode code(10, log_);
    code.AddCommand(0, 1);
    EXPECT_EQ(code.AddCommand(7, 3), 0);   // marks the next command as label 7
    EXPECT_EQ(code.AddCommand(0, 9), 0);
    code.AddCommand(0, 2);
    code.AddJump(0, 2, 7);
    code.Optimise();
    EXPECT_EQ(code.GetSize(), 4);
    // The jump at 2 goes back to 1, the command after the marker: 1 - 2 - 2 = -3.
    EXPECT_EQ(code.GetCode(), (Bytes {0x01, 0x02, 0x64, 0xFD}));
    const auto& commands = code.GetCommands();
    EXPECT_EQ(commands.at(1).Address, 1);
    EXPECT_EQ(commands.at(2).Address, 1);
}

TEST_F(VarpCodeTest, RecordWithoutBytesMovesDownWithTheCommandsBehindAShortenedJump) {
    TVarpCode code(10, log_);
    code.AddJump(0, 0, 5);
    code.AddCommand(0, 1);
    code.AddCommand(5, 3);  // no bytes: label 5 is the address of the last command
    code.AddCommand(0, 0);
    code.Optimise();
    EXPECT_EQ(code.GetCode(), (Bytes {0x60, 0x01, 0x01, 0x00}));
    EXPECT_EQ(code.GetCommands().at(2).Address, 3);
}

TEST_F(VarpCodeTest, JumpAboveTheHighestLabelGoesToTheEndOfTheProgram) {
    TVarpCode code(10, log_);
    code.AddCommand(0, 1);
    code.AddJump(0, 3, 11);  // the last command: distance 0
    code.Optimise();
    EXPECT_EQ(code.GetCode(), (Bytes {0x01, 0x66, 0x00}));

    TVarpCode forward(10, log_);
    forward.AddJump(0, 0, 0xFFFF);
    forward.AddCommand(0, 1);
    forward.AddCommand(0, 2);
    forward.Optimise();
    EXPECT_EQ(forward.GetCode(), (Bytes {0x60, 0x02, 0x01, 0x02}));
}

TEST_F(VarpCodeTest, ProgramWithoutJumpsIsLoggedOnceAndUnchanged) {
    Bytes image;
    {
        TVarpCode code(10, log_);
        code.AddCommand(0, 1);
        code.AddCommand(0, 8, 0x21);
        code.AddCommand(0, 0);
        image = code.GetCode();
        code.Optimise();
        EXPECT_EQ(code.GetCode(), image);
        EXPECT_EQ(code.GetSize(), 4);
    }
    const std::string dump = Lines({"", "Program Dump:", "000:0000: 0x01 Wait for in position before continuing",
                                    "001:0001: 0x08 0x21 Output action", "002:0003: 0x00 End of program"});
    EXPECT_EQ(ReadLog(), "\r\nProgram without small jumps, and without destinations:\r\n" + dump +
                             "\r\nUpdating Addresses in jump commands...\r\n" + dump +
                             "\r\nSearching for replacable long jumps...\r\n" + "None found :D");
}

TEST_F(VarpCodeTest, EmptyProgramOptimisesToNothing) {
    TVarpCode code(0, log_);
    code.Optimise();
    EXPECT_EQ(code.GetSize(), 0);
    EXPECT_TRUE(code.GetCode().empty());
}

TEST_F(VarpCodeTest, CommandsCannotBeAddedOrOptimisedAgainAfterOptimising) {
    TVarpCode code(10, log_);
    code.AddCommand(0, 0);
    code.Optimise();
    EXPECT_THROW(code.AddCommand(1, 0), VarpError);
    EXPECT_THROW(code.AddJump(0, 0, 0), VarpError);
    EXPECT_THROW(code.Optimise(), VarpError);
    EXPECT_EQ(code.GetCode(), Bytes {0x00});
}

TEST_F(VarpCodeTest, ProgramCannotGrowPastSixtyFourKilobytes) {
    TVarpCode code(0, log_);
    for (int i = 0; i < 0xFFFF / 4; ++i) code.AddCommand(0, 4, 1, 2, 3);  // 65532 bytes
    code.AddCommand(0, 8, 1);                                               // 65534
    EXPECT_THROW(code.AddCommand(0, 8, 1), VarpError);
    code.AddCommand(0, 0);  // 65535: the last byte still fits
    EXPECT_THROW(code.AddCommand(0, 0), VarpError);
    EXPECT_EQ(code.GetSize(), 0xFFFF);
}

// Shortening takes distances from -127 to 126, measured from the end of the long form.
struct Distance {
    const char* name;
    int distance;
    Bytes jump;  // the jump's bytes after Optimise
};
void PrintTo(const Distance& c, std::ostream* os) { *os << c.name; }


class ShorteningTest : public VarpCodeTest, public ::testing::WithParamInterface<Distance> {};

TEST_P(ShorteningTest, ShortensOnlyWithinTheRange) {
    const Distance& d = GetParam();
    TVarpCode code(10, log_);
    std::size_t jumpIndex = 0;
    if (d.distance >= 0) {
        // Jump at 0 over `distance` one-byte commands to label 1.
        code.AddJump(0, 0, 1);
        for (int i = 0; i < d.distance; ++i) code.AddCommand(0, 1);
        code.AddCommand(1, 0);
    } else {
        // Label 1 at 0, then one-byte commands up to the jump, whose end is -distance past 0.
        const int jumpAddress = -d.distance - 3;
        code.AddCommand(1, 1);
        for (int i = 1; i < jumpAddress; ++i) code.AddCommand(0, 1);
        jumpIndex = code.GetCommands().size();
        code.AddJump(0, 0, 1);
    }
    code.Optimise();
    const auto& jump = code.GetCommands().at(jumpIndex);
    EXPECT_EQ(Bytes(jump.Bytes.begin(), jump.Bytes.begin() + jump.Length), d.jump);
    // The image holds exactly what the commands hold.
    EXPECT_EQ(code.GetCode().size(), code.GetSize());
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, ShorteningTest,
    ::testing::Values(Distance {"Forward126IsShortened", 126, {0x60, 0x7E}},
                      Distance {"Forward127StaysLong", 127, {0x61, 0x82, 0x00}},
                      Distance {"Backward127IsShortened", -127, {0x60, 0x82}},
                      Distance {"Backward128StaysLong", -128, {0x61, 0x00, 0x00}},
                      Distance {"ZeroIsShortened", 0, {0x60, 0x00}}),
    [](const ::testing::TestParamInfo<Distance>& param) { return param.param.name; });

TEST_F(VarpCodeTest, ShorteningALaterJumpBringsAnEarlierOneIntoRangeOnTheNextPass) {
    TVarpCode code(10, log_);
    code.AddJump(0, 1, 1);  // 0: to label 1 at 130, distance 127: too far at first
    code.AddJump(0, 0, 2);  // 3: to the next command, distance 0
    code.AddCommand(2, 1);  // 6
    for (int i = 0; i < 123; ++i) code.AddCommand(0, 1);
    code.AddCommand(1, 0);  // 130
    code.Optimise();
    EXPECT_EQ(code.GetSize(), 129);
    const Bytes image = code.GetCode();
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 4), (Bytes {0x62, 0x7E, 0x60, 0x00}));
    code.SaveLog();
    const std::string log = ReadLog();
    const std::string search = "\r\nSearching for replacable long jumps...\r\n";
    const auto first = log.find(search);
    const auto second = log.find(search, first + 1);
    const auto third = log.find(search, second + 1);
    ASSERT_NE(third, std::string::npos);
    const std::string shortened3 = " Jump Command at 0x0003 changed to short\r\n";
    const std::string shortened0 = " Jump Command at 0x0000 changed to short\r\n";
    EXPECT_EQ(log.substr(first + search.size(), shortened3.size()), shortened3);
    EXPECT_EQ(log.substr(second + search.size(), shortened0.size()), shortened0);
    EXPECT_EQ(log.substr(third + search.size()), "None found :D");
}

}  // namespace
}  // namespace vindelor::program
