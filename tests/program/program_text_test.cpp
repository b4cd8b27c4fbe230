// The program text form: parsing, every adder reachable, and errors with their line.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "program/ProgramText.h"
#include "program/TVarpCode.h"
#include "support/TempDir.h"

namespace vindelor::program {
namespace {

using Bytes = std::vector<std::uint8_t>;

class ProgramTextTest : public ::testing::Test {
protected:
    Bytes Assemble(std::string_view text) { return AssembleProgram(ParseProgramText(text), log_); }

    testing::TempDir tmp_;
    const std::filesystem::path& dir_ = tmp_.path();
    const std::string log_ = tmp_.file("VarpWare.Log");
};

TEST_F(ProgramTextTest, SampleFileAssemblesToTheSampleImage) {
    std::ifstream in(VINDELOR_TEST_DATA "/program/sample.vpt", std::ios::binary);
    ASSERT_TRUE(in);
    const std::string text {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const ProgramText program = ParseProgramText(text);
    EXPECT_EQ(program.maxLabel, 1000);
    ASSERT_EQ(program.lines.size(), 7u);
    EXPECT_EQ(program.lines[0].line, 5);
    EXPECT_EQ(AssembleProgram(program, log_),
              (Bytes {0x05, 0x35, 0x62, 0x02, 0x08, 0x11, 0x05, 0x34, 0x62, 0xF6, 0x08, 0x01, 0x60, 0xF2}));
    EXPECT_GT(std::filesystem::file_size(log_), 0u);
}

TEST_F(ProgramTextTest, EveryOperationReachesItsAdder) {
    const std::string text =
        "0: end\n"
        "0: wait-in-position\n"
        "0: wait-not-in-position\n"
        "0: test-inputs 0x81 0x81 0x8C\n"
        "0: clear-edges\n"
        "0: fastvx 0x12\n"
        "0: command 8 0b00010001\n"
        "0: command 3\n"             // no bytes
        "0: command 0x70\n"          // no bytes either
        "0: test-input high 1\n"
        "0: test-input low 2\n"
        "0: test-input edge-low 3\n"
        "0: test-input 2 4\n"
        "0: output 15 16\n"
        "0:jump 3 end\n"             // the colon may touch the operation
        "0: JUMP 2 0\n";             // names in any case
    EXPECT_EQ(Assemble(text), (Bytes {0x00, 0x01, 0x02, 0x04, 0x81, 0x81, 0x8C, 0x06, 0x07, 0x12, 0x08, 0x11,
                                      0x05, 0x11, 0x05, 0x02, 0x05, 0x23, 0x05, 0x34, 0x08, 0xFF,
                                      0x66, 0x02,    // to the end, over the last jump
                                      0x64, 0xE6})); // back to 0
}

TEST_F(ProgramTextTest, CommentsBlankLinesAndLineEndsAreIgnored) {
    EXPECT_EQ(Assemble("# only a comment\r\n\r\n   \t\n0: end # stop\r\n#0: end\n"), Bytes {0x00});
    EXPECT_TRUE(Assemble("").empty());
}

TEST_F(ProgramTextTest, MaxLabelDecidesWhereTheEndIs) {
    const ProgramText p = ParseProgramText("max-label 5\n0: jump 0 end\n5: end\n");
    EXPECT_EQ(p.lines[0].target, 6);
    EXPECT_EQ(AssembleProgram(p, log_), (Bytes {0x60, 0x01, 0x00}));
}

struct ErrorCase {
    const char* name;
    const char* text;
    int line;
    const char* reason;
};
void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }


class ProgramTextErrorTest : public ProgramTextTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(ProgramTextErrorTest, ReportsTheLine) {
    const ErrorCase& c = GetParam();
    try {
        Assemble(c.text);
        FAIL() << "assembled";
    } catch (const ProgramTextError& e) {
        EXPECT_EQ(e.Line, c.line);
        EXPECT_EQ(e.Reason, c.reason);
        EXPECT_EQ(std::string(e.what()), "line " + std::to_string(c.line) + ": " + c.reason);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Errors, ProgramTextErrorTest,
    ::testing::Values(
        ErrorCase {"UnknownOperation", "0: end\n\n0: halt\n", 3, "unknown operation halt"},
        ErrorCase {"MissingLabel", "end\n", 1, "a command line starts with its label number and a colon, as in \"0: end\""},
        ErrorCase {"EmptyLabel", ": end\n", 1, "the label number is missing before the colon"},
        ErrorCase {"MissingOperation", "0:\n", 1, "the operation is missing after the label"},
        ErrorCase {"BadNumber", "0: fastvx 12z\n", 1, "not a number for an operand byte: 12z"},
        ErrorCase {"NegativeNumber", "0: fastvx -1\n", 1, "not a number for an operand byte: -1"},
        ErrorCase {"ByteTooLarge", "0: fastvx 256\n", 1, "an operand byte 256 is above 255"},
        ErrorCase {"LabelTooLarge", "max-label 10\n0: end\n11: end\n", 3, "label 11 is above max-label 10"},
        ErrorCase {"LabelPast16Bits", "70000: end\n", 1, "the label 70000 is above 65535"},
        ErrorCase {"TooFewOperands", "0: output 1\n", 1, "output takes 2 operands, not 1"},
        ErrorCase {"TooManyOperands", "0: end 1\n", 1, "end takes 0 operands, not 1"},
        ErrorCase {"OpcodeOperandCount", "0: command 4 1 2\n", 1, "opcode 4 takes 3 operand bytes, not 2"},
        ErrorCase {"OpcodeWithoutBytesTakesNone", "0: command 9 1\n", 1, "opcode 9 takes 0 operand bytes, not 1"},
        ErrorCase {"MissingOpcode", "0: command\n", 1, "command needs an opcode"},
        ErrorCase {"InputOutOfRange", "0: end\n0: test-input high 16\n", 2, "Input 16 is outside 0 to 15"},
        ErrorCase {"UnknownMode", "0: test-input rising 1\n", 1, "not a number for the test mode: rising"},
        ErrorCase {"OutputZero", "0: output 1 0\n", 1, "Output 0 is outside 1 to 16"},
        ErrorCase {"ConditionOutOfRange", "0: jump 4 0\n", 1, "Jump condition 4 is outside 0 to 3"},
        ErrorCase {"JumpToNothing", "1: end\n0: jump 0 2\n", 2,
                   "the jump goes to label 2, but no command bears that label or a higher one up to max-label 1000"},
        ErrorCase {"MaxLabelAfterCommands", "0: end\nmax-label 5\n", 2, "max-label must come before the first command"},
        ErrorCase {"MaxLabelTwice", "max-label 5\nmax-label 6\n", 2, "max-label is given twice"},
        ErrorCase {"EndWithoutRoom", "max-label 65535\n0: jump 0 end\n", 2,
                   "no label lies above max-label 65535, so a jump cannot name the end"}),
    [](const ::testing::TestParamInfo<ErrorCase>& param) { return param.param.name; });

TEST_F(ProgramTextTest, ProgramPastSixtyFourKilobytesNamesTheLineThatOverflows) {
    std::string text;
    for (int i = 0; i < 16384; ++i) text += "0: test-inputs 0 0 0\n";
    try {
        Assemble(text);
        FAIL() << "assembled";
    } catch (const ProgramTextError& e) {
        EXPECT_EQ(e.Line, 16384);
    }
}

}  // namespace
}  // namespace vindelor::program
