#include "registers/Definitions.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempDir.h"

namespace vindelor::registers {
namespace {

// A standard register line: name in columns 1-15, words in 16-18, type in 19-21.
std::string Line(const std::string& name, const std::string& words, const std::string& type) {
    std::string l = name;
    l.resize(15, ' ');
    return l + words + type;
}

const std::string kStandard = Line("REGA", "  1", "  1") + "\n" + Line("SAMPLE1", "  1", "  1") + "\n" +
                              Line("RESERVED", "  2", "  0") + "\n" + Line("REGB", "  2", "  3") + "\n";

TEST(StandardFormat, NumbersRegistersByTheirWidths) {
    Definitions d;
    auto r = LoadStandard(d, 1, kStandard, std::string());
    EXPECT_TRUE(r.errors.empty());
    ASSERT_EQ(d.registerCount, 4);
    EXPECT_EQ(d.registerTable[0].number, 1);
    EXPECT_EQ(d.registerTable[1].number, 2);
    EXPECT_EQ(d.registerTable[2].number, -1);
    EXPECT_EQ(d.registerTable[3].number, 5);
    EXPECT_EQ(d.registerTable[3].words, 2);
    EXPECT_EQ(d.registerTable[0].name, "REGA           ");
    EXPECT_EQ(d.sampleBase, 2);
}

TEST(StandardFormat, OneWordLinesDoNotAdvanceOnTwoWordDevices) {
    Definitions d;
    LoadStandard(d, 2, Line("A", "  1", "  1") + "\n" + Line("B", "  2", "  3") + "\n" + Line("C", "  2", "  3"), "");
    EXPECT_EQ(d.registerTable[0].number, 1);
    EXPECT_EQ(d.registerTable[1].number, 1);
    EXPECT_EQ(d.registerTable[2].number, 2);
}

TEST(StandardFormat, Sample1MustBeUpperCaseWithoutLeadingBlanks) {
    const std::pair<std::string, int> cases[] = {{"SAMPLE1", 2}, {"sample1", 0}, {" SAMPLE1", 0}};
    for (const auto& [name, base] : cases) {
        Definitions d;
        LoadStandard(d, 1, Line("A", "  1", "  1") + "\n" + Line(name, "  1", "  1"), "");
        EXPECT_EQ(d.sampleBase, base) << name;
    }
}

struct BadLine {
    const char* what;
    std::string line;
};

TEST(StandardFormat, ABadLineIsALoadErrorAndTheOldCountStays) {
    const BadLine cases[] = {
        {"shorter than 19 characters", "REGX           1"},
        {"empty line", ""},
        {"trailing blank in the type", Line("REGX", "  1", " 1 ")},
        {"letters in the type", Line("REGX", "  1", " x1")},
        {"type code above 9", Line("REGX", "  1", " 10")},
        {"negative type code", Line("REGX", "  1", " -1")},
    };
    for (const auto& c : cases) {
        Definitions d;
        LoadStandard(d, 1, kStandard, "");
        auto r = LoadStandard(d, 1, Line("NEW", "  1", "  1") + "\n" + c.line + "\n" + Line("Z", "  1", "  1"), "");
        ASSERT_EQ(r.errors.size(), 1u) << c.what;
        EXPECT_EQ(r.errors[0], "Error loading parameter file (LINE 2)") << c.what;
        EXPECT_FALSE(r.registersLoaded);
        EXPECT_EQ(d.registerCount, 4) << c.what;
        EXPECT_EQ(d.registerTable[0].name, "NEW            ") << c.what;  // new data up to the fault
    }
}

TEST(StandardFormat, WordsUseTheLeadingNumberAndNeverFail) {
    Definitions d;
    LoadStandard(d, 1, Line("A", " 2x", "  1") + "\n" + Line("B", "   ", "  1") + "\n" + Line("C", "  1", "  1"), "");
    EXPECT_EQ(d.registerTable[0].words, 2);
    EXPECT_EQ(d.registerTable[1].words, 0);
    EXPECT_EQ(d.registerTable[1].number, 3);
    EXPECT_EQ(d.registerTable[2].number, 3);
}

TEST(StandardFormat, MoreThan256LinesOrNumbersPast255AreLoadErrors) {
    std::string many;
    for (int i = 0; i < 257; ++i) many += Line("R", "  0", "  0") + "\n";
    Definitions d;
    EXPECT_EQ(LoadStandard(d, 1, many, "").errors.at(0), "Error loading parameter file (LINE 257)");

    std::string wide;
    for (int i = 0; i < 128; ++i) wide += Line("R", "  2", "  3") + "\n";  // numbers 1, 3, ... 255
    wide += Line("LAST", "  1", "  1") + "\n";                              // would be 257
    EXPECT_EQ(LoadStandard(d, 1, wide, "").errors.at(0), "Error loading parameter file (LINE 129)");
}

TEST(StandardFormat, BitFieldLinesAndValueNames) {
    Definitions d;
    auto r = LoadStandard(d, 1, Line("REGA", "  1", "  1") + "\n" + Line("MODE", "  1", "  1"),
                          "OPMODE        2  0  2 Passive Velocity Position Gear\n"
                          "SHORT         2  4  1\n"
                          "GAPS          1  0 16 a  b\n");
    EXPECT_TRUE(r.errors.empty());
    ASSERT_EQ(d.bitFieldCount, 3);
    const auto& bf = d.bitFieldTable[0];
    EXPECT_EQ(bf.name, "OPMODE      ");
    EXPECT_EQ(bf.registerNumber, 2);
    EXPECT_EQ(bf.firstBit, 0);
    EXPECT_EQ(bf.width, 2);
    EXPECT_EQ(bf.valueNames, (std::vector<std::string> {"Passive", "Velocity", "Position", "Gear"}));
    EXPECT_EQ(d.bitFieldTable[1].valueNames, (std::vector<std::string> {""}));
    EXPECT_EQ(d.bitFieldTable[2].valueNames, (std::vector<std::string> {"a", "", "b"}));
    EXPECT_TRUE(d.registerTable[1].hasBitFields);
    EXPECT_TRUE(d.registerTable[0].hasBitFields);
}

TEST(StandardFormat, ABitFieldFileOf101LinesFailsAsAWholeAndTheRegistersStay) {
    std::string bits;
    for (int i = 0; i < 101; ++i) bits += "F             1  0  1 x\n";
    Definitions d;
    auto r = LoadStandard(d, 1, kStandard, bits);
    EXPECT_TRUE(r.registersLoaded);
    EXPECT_FALSE(r.bitFieldsLoaded);
    EXPECT_EQ(r.errors, (std::vector<std::string> {"Error loading bitdef file (LINE 101)"}));
    EXPECT_EQ(d.registerCount, 4);
    EXPECT_EQ(d.bitFieldCount, 0);
}

TEST(StandardFormat, AMissingFileIsALoadError) {
    Definitions d;
    auto r = LoadStandard(d, 1, std::nullopt, std::nullopt);
    EXPECT_EQ(r.errors, (std::vector<std::string> {"Error loading parameter file (LINE 0)",
                                                    "Error loading bitdef file (LINE 0)"}));
}

TEST(LoadDefinitions, AFileThatCannotBeReadIsALoadErrorOnLineZero) {
    testing::TempDir dir;
    for (const char* name : {"tambrel.dat", "bitdefs.dat", "tambrel_alt.dat"})
        std::filesystem::create_directory(dir.path() / name);
    Definitions d;
    auto r = LoadDefinitions(d, VX20_95, false, dir.path().string());
    EXPECT_EQ(r.errors, (std::vector<std::string> {"Error loading parameter file (LINE 0)",
                                                    "Error loading bitdef file (LINE 0)"}));
    r = LoadDefinitions(d, VX20_95, true, dir.path().string());
    EXPECT_EQ(r.errors, (std::vector<std::string> {"Error loading parameter file (LINE 0)"}));
}

const char* kAlternative =
    "# drive registers\n"
    "2 , \"REGA\" , int16\n"
    "\n"
    "  \t \n"
    "3 , \"Sample1\" , UINT16 trailing words\n"
    "10 , \"REGB\" , int32\n"
    "4,\"EMPTY\",DUMMY\n"
    "25 : 0 : 2 , \"OPMODE\" , 0 =\"Passive\" , 1 =\"Velocity\" , 3 =\"Gear\"\n"
    "10 : 4 : 4 , \"HIGH\" , 5 =\"On\"\n";

TEST(AlternativeFormat, ReadsRegistersAndBitFieldsFromOneFile) {
    Definitions d;
    auto r = LoadAlternative(d, 1, std::string(kAlternative));
    EXPECT_TRUE(r.errors.empty()) << r.errors.at(0);
    ASSERT_EQ(d.registerCount, 4);
    EXPECT_EQ(d.registerTable[0].name, "REGA");
    EXPECT_EQ(d.registerTable[1].type, 2);
    EXPECT_EQ(d.registerTable[2].words, 2);
    EXPECT_EQ(d.registerTable[3].type, 0);
    EXPECT_EQ(d.sampleBase, 3);
    ASSERT_EQ(d.bitFieldCount, 2);
    EXPECT_EQ(d.bitFieldTable[0].valueNames, (std::vector<std::string> {"Passive", "Velocity", "---", "Gear"}));
    EXPECT_EQ(d.bitFieldTable[1].valueNames,
              (std::vector<std::string> {"---", "---", "---", "---", "---", "On"}));
    EXPECT_TRUE(d.registerTable[2].hasBitFields);
    EXPECT_FALSE(d.registerTable[0].hasBitFields);
}

TEST(AlternativeFormat, OnlyCommentsAndBlankLinesLoadAnEmptyList) {
    Definitions d;
    LoadStandard(d, 1, kStandard, "");
    auto r = LoadAlternative(d, 1, std::string("# nothing\n\n   \n"));
    EXPECT_TRUE(r.registersLoaded);
    EXPECT_EQ(d.registerCount, 0);
}

TEST(AlternativeFormat, BadLinesAreLoadErrorsOnTheirLine) {
    const BadLine cases[] = {
        {"number above 255", "256 , \"R\" , int16"},
        {"unknown keyword", "1 , \"R\" , int64"},
        {"bit field without a pair", "1 : 0 : 1 , \"F\""},
        {"bit field register above 255", "300 : 0 : 1 , \"F\" , 0 =\"a\""},
        {"not a definition", "hello"},
        {"empty name", "1 , \"\" , int16"},
        {"value far past any field", "1 : 0 : 1 , \"F\" , 100000 =\"a\""},
        {"number past 32 bits", "4294967298 , \"R\" , int16"},
        {"bit field register past 32 bits", "4294967297 : 0 : 1 , \"F\" , 0 =\"a\""},
        {"first bit past 32 bits", "1 : 4294967296 : 1 , \"F\" , 0 =\"a\""},
        {"width past 32 bits", "1 : 0 : 4294967297 , \"F\" , 0 =\"a\""},
        {"negative width", "1 : 0 : -1 , \"F\" , 0 =\"a\""},
        {"lowest width", "1 : 0 : -2147483648 , \"F\" , 0 =\"a\""},
        {"value below 32 bits", "1 : 0 : 1 , \"F\" , -4294967295 =\"a\""},
        {"number past 64 bits", "99999999999999999999 , \"R\" , int16"},
    };
    for (const auto& c : cases) {
        Definitions d;
        d.registerCount = 9;
        auto r = LoadAlternative(d, 1, "# first\n1 , \"A\" , int16\n" + c.line + "\n");
        ASSERT_EQ(r.errors.size(), 1u) << c.what;
        EXPECT_EQ(r.errors[0], "Error loading parameter file (LINE 3)") << c.what;
        EXPECT_EQ(d.registerCount, 9) << c.what;
    }
}

TEST(AlternativeFormat, MoreThan256RegisterLinesOr100BitFieldsAreLoadErrors) {
    std::string regs;
    for (int i = 0; i < 257; ++i) regs += std::to_string(i % 256) + " , \"R\" , int16\n";
    Definitions d;
    EXPECT_EQ(LoadAlternative(d, 1, regs).errors.at(0), "Error loading parameter file (LINE 257)");
    std::string bits;
    for (int i = 0; i < 101; ++i) bits += "1 : 0 : 1 , \"F\" , 0 =\"a\"\n";
    auto r = LoadAlternative(d, 1, bits);
    EXPECT_EQ(r.errors.at(0), "Error loading parameter file (LINE 101)");
    EXPECT_EQ(d.bitFieldCount, 100);
}

TEST(Lookup, FindsByNumberAndByTrimmedName) {
    Definitions d;
    LoadStandard(d, 1, kStandard, "");
    EXPECT_EQ(d.findRegisterIndex(5), 3);
    EXPECT_EQ(d.findRegisterIndex(3), -1);
    EXPECT_EQ(d.findRegisterIndex(-1), 2);  // placeholders carry -1
    EXPECT_EQ(d.findRegisterByName("REGB"), 5);
    EXPECT_EQ(d.findRegisterByName("regb"), -1);
}

TEST(Lines, EndAtCrLfOrCrLf) {
    EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (std::vector<std::string> {"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\n\n"), (std::vector<std::string> {"a", ""}));
}

}  // namespace
}  // namespace vindelor::registers
