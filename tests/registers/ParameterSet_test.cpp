#include "registers/ParameterSet.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "registers/ParameterDevice.h"
#include "registers/ValueType.h"
#include "support/CommaLocale.h"
#include "support/TempDir.h"

namespace vindelor::registers {
namespace {

// Words as the type needs them, or as many as a large device gives every register.
ParameterEntry Entry(const std::string& name, int number, int type, std::uint32_t raw,
                     int words = 0) {
    ParameterEntry e;
    e.name = name;
    e.number = number;
    e.type = type;
    e.words = words ? words : TypeWords(type);
    e.raw = raw;
    return e;
}

// One register of every value type that holds a value, one- and two-word ones.
ParameterSet EveryType() {
    ParameterSet s;
    s.program = "1.28";
    s.deviceType = "VX20-95";
    s.address = 3;
    s.firmware = "1.28";
    s.serial = "20261210";
    s.date = "2025-06-01T12:00:00Z";
    s.entries = {Entry("MODE", 1, Uint16, 0xFFFF),        Entry("V_IST", 9, Int16, 0xFC18),
                 Entry("P_IST", 7, Int32, 0xFFFFFF85),    Entry("KP", 16, Fixed4, 0x1800),
                 Entry("TEMP", 10, Fixed8, 0xFF80),       Entry("SERIAL", 21, Uint32, 0xFFFFFFFF),
                 Entry("GEAR", 18, Fixed16, 0x00018000),  Entry("LOAD", 44, Fixed24, 0x80000000),
                 Entry("FIRMWARE", 20, Version, 0xA0C5),  Entry("TWO WORDS", 50, Int32, 0x12345678),
                 Entry("LARGE", 51, Int16, 0x0001FFFF, 2)};
    return s;
}

ParameterFileError ErrorOf(const std::string& text) {
    auto r = ParseParameterSet(text);
    if (auto* e = std::get_if<ParameterFileError>(&r)) return *e;
    ADD_FAILURE() << "read without an error:\n" << text;
    return {};
}

TEST(ParameterFile, EveryValueTypeReadsBackAsItWasWritten) {
    const ParameterSet set = EveryType();
    const std::string text = FormatParameterSet(set);
    auto parsed = ParseParameterSet(text);
    ASSERT_TRUE(std::holds_alternative<ParameterSet>(parsed))
        << std::get<ParameterFileError>(parsed).message;
    const auto& back = std::get<ParameterSet>(parsed);
    EXPECT_EQ(back.program, "1.28");
    EXPECT_EQ(back.deviceType, "VX20-95");
    EXPECT_EQ(back.address, 3);
    EXPECT_EQ(back.firmware, "1.28");
    EXPECT_EQ(back.serial, "20261210");
    EXPECT_EQ(back.date, "2025-06-01T12:00:00Z");
    ASSERT_EQ(back.entries.size(), set.entries.size());
    for (std::size_t i = 0; i < set.entries.size(); ++i) {
        EXPECT_EQ(back.entries[i].name, set.entries[i].name);
        EXPECT_EQ(back.entries[i].number, set.entries[i].number);
        EXPECT_EQ(back.entries[i].type, set.entries[i].type);
        EXPECT_EQ(back.entries[i].words, set.entries[i].words);
        EXPECT_EQ(back.entries[i].raw, set.entries[i].raw);
    }
    EXPECT_TRUE(CompareParameterSets(set, back).empty());
    // Written again it is the same text, so a file under version control only changes where
    // the device did.
    EXPECT_EQ(FormatParameterSet(back), text);
}

TEST(ParameterFile, IsTheSameUnderALocaleWithADecimalComma) {
    const std::string inC = FormatParameterSet(EveryType());
    testing::CommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no locale with a decimal comma on this machine";
    EXPECT_EQ(FormatParameterSet(EveryType()), inC);
    EXPECT_TRUE(std::holds_alternative<ParameterSet>(ParseParameterSet(inC)));
}

TEST(ParameterFile, ALineShowsNameNumberTypeRawWordsAndTheListsValue) {
    ParameterSet s = EveryType();
    s.entries = {Entry("KP", 16, Fixed4, 0x1800), Entry("GEAR", 18, Fixed16, 0x00018000),
                 Entry("FIRMWARE", 20, Version, 0xA0C5), Entry("MODE", 21, Uint16, 0x00010002, 2)};
    const std::string text = FormatParameterSet(s);
    EXPECT_NE(text.find("\n\"KP\"               16  fixed4   0x1800      1.5000000\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\n\"GEAR\"             18  fixed16  0x00018000  1.5000000\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\n\"FIRMWARE\"         20  version  0xA0C5      3.5 Beta\n"),
              std::string::npos)
        << text;
    // A register of a large device has two words whatever its type; the value is the type's.
    EXPECT_NE(text.find("\n\"MODE\"             21  uint16   0x00010002  2\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("\nend 4\n"), std::string::npos);
}

// A good file to damage line by line.
const std::string kGood =
    "# saved by hand\n"
    "vindelor-parameters 1\n"
    "program  1.28\n"
    "type     VX20-95\n"
    "address  3\n"
    "date     2025-06-01T12:00:00Z\n"
    "\"KP\"   16 fixed4  0x1800     1.5000000\n"
    "\"GEAR\" 18 fixed16 0x00018000 1.5000000\n"
    "end 2\n";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

TEST(ParameterFile, AGoodFileReads) {
    auto parsed = ParseParameterSet(kGood);
    ASSERT_TRUE(std::holds_alternative<ParameterSet>(parsed))
        << std::get<ParameterFileError>(parsed).message;
    EXPECT_EQ(std::get<ParameterSet>(parsed).entries.at(1).line, 8);
}

struct Damage {
    const char* what;
    std::string text;
    int line;
    const char* message;
};

class DamagedFile : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedFile, IsAnErrorAtItsLine) {
    const auto e = ErrorOf(GetParam().text);
    EXPECT_EQ(e.line, GetParam().line) << e.message;
    EXPECT_NE(e.message.find(GetParam().message), std::string::npos) << e.message;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, DamagedFile,
    ::testing::Values(
        Damage{"no magic line", Replace(kGood, "vindelor-parameters 1", "parameters"), 2,
               "no Vindelor parameter set"},
        Damage{"an unknown format",
               Replace(kGood, "vindelor-parameters 1", "vindelor-parameters 2"), 2, "format 2"},
        Damage{"an unknown device type", Replace(kGood, "VX20-95", "VX21"), 4,
               "\"VX21\" is no device type"},
        Damage{"an address past 255", Replace(kGood, "address  3", "address  300"), 5,
               "no address"},
        Damage{"an unknown header line", Replace(kGood, "date ", "dated "), 6,
               "neither a header line"},
        Damage{"a header line twice",
               Replace(kGood, "program  1.28\n", "program  1.28\nprogram 1.29\n"), 4,
               "given twice (first on line 3)"},
        Damage{"an unclosed name", Replace(kGood, "\"KP\"", "\"KP"), 7, "no closing quote"},
        Damage{"a register past 255", Replace(kGood, " 16 ", " 256 "), 7, "no register number"},
        Damage{"an unknown type", Replace(kGood, "fixed4 ", "fixed5 "), 7,
               "\"fixed5\" is no value type"},
        Damage{"the placeholder type", Replace(kGood, "fixed4 ", "Dummy "), 7, "no value type"},
        Damage{"raw words of the wrong width", Replace(kGood, "0x00018000", "0x8000"), 8,
               "8 hexadecimal digits"},
        Damage{"no hexadecimal raw words", Replace(kGood, "0x1800", "0x18G0"), 7,
               "4 or 8 hexadecimal digits"},
        Damage{"a changed digit", Replace(kGood, "0x1800", "0x1801"), 7,
               "the value 1.5000000 does not match the raw words 0x1801, which read 1.5002441"},
        Damage{"a changed value", Replace(kGood, "0x1800     1.5000000", "0x1800     2.0"), 7,
               "does not match"},
        Damage{"no value", Replace(kGood, "0x1800     1.5000000", "0x1800"), 7,
               "the value is missing"},
        Damage{"a register twice",
               Replace(kGood, "\"GEAR\" 18", "\"GEAR\" 16 fixed4 0x1800 1.5000000\n\"GEAR2\" 18"),
               8, "register 16 is given twice (first on line 7)"},
        Damage{"a header among the registers", Replace(kGood, "end 2", "serial 5\nend 2"), 9,
               "stands among the registers"},
        Damage{"a count that does not fit", Replace(kGood, "end 2", "end 3"), 9,
               "counts 3 registers, but 2"},
        Damage{"a file cut short", Replace(kGood, "end 2\n", ""), 8, "cut short"},
        Damage{"a file cut in a line", kGood.substr(0, kGood.find("0x00018000") + 4), 8,
               "hexadecimal digits"},
        Damage{"lines after the end", kGood + "\"KI\" 17 fixed4 0x0000 0.0000000\n", 10,
               "nothing may follow"},
        Damage{"no type", Replace(kGood, "type     VX20-95\n", ""), 8, "names no device type"},
        Damage{"an empty file", "", 0, "empty"}),
    [](const ::testing::TestParamInfo<Damage>& p) {
        std::string name = p.param.what;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

TEST(ParameterFile, ReadingAFileNamesItAndTheLine) {
    testing::TempDir tmp;
    ParameterSet set;
    std::string error;
    const std::string path = tmp.write("bad.params", Replace(kGood, "0x1800", "0x1801"));
    EXPECT_FALSE(ReadParameterFile(path, set, error));
    EXPECT_EQ(error.rfind(path + ":7: the value 1.5000000 does not match", 0), 0u) << error;
    EXPECT_FALSE(ReadParameterFile(tmp.file("missing.params"), set, error));
    EXPECT_NE(error.find("missing.params"), std::string::npos) << error;
}

TEST(ParameterFile, IsWrittenWhole) {
    testing::TempDir tmp;
    const std::string path = tmp.file("set.params");
    ASSERT_EQ(WriteParameterFile(path, EveryType()), "");
    ParameterSet back;
    std::string error;
    ASSERT_TRUE(ReadParameterFile(path, back, error)) << error;
    EXPECT_EQ(back.entries.size(), EveryType().entries.size());
    // Nothing but the file itself is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(ParameterComparison, ListsTheRegistersThatDifferOrStandInOneSetOnly) {
    ParameterSet a = EveryType();
    ParameterSet b = EveryType();
    b.entries[3].raw = 0x2000;  // KP
    b.entries.pop_back();       // LARGE only in a
    b.entries.back().raw = 0x12345678;
    b.entries.push_back(Entry("NEW", 60, Int16, 1));
    b.entries[0].raw = 0xFFFF;  // MODE as it was
    const auto d = CompareParameterSets(a, b);
    ASSERT_EQ(d.size(), 3u);
    EXPECT_EQ(d[0].name, "KP");
    EXPECT_EQ(d[0].left->raw, 0x1800u);
    EXPECT_EQ(d[0].right->raw, 0x2000u);
    EXPECT_EQ(d[1].name, "LARGE");
    EXPECT_FALSE(d[1].right);
    EXPECT_EQ(d[2].name, "NEW");
    EXPECT_FALSE(d[2].left);
    const std::set<int> only{16};
    EXPECT_EQ(CompareParameterSets(a, b, &only).size(), 1u);
}

TEST(ParameterComparison, AOneWordRegisterComparesItsWordOnly) {
    ParameterSet a = EveryType();
    ParameterSet b = EveryType();
    b.entries[0].raw = 0x0001FFFF;  // the next register's word, as a two-word reply would carry it
    EXPECT_TRUE(CompareParameterSets(a, b).empty());
    b.entries.back().raw = 0x0002FFFF;  // a large device's register differs in its second word
    EXPECT_EQ(CompareParameterSets(a, b).size(), 1u);
}

TEST(RestorePlan, WritesOnlyWhatIsAllowedAndDiffers) {
    const ParameterSet file = EveryType();
    ParameterSet device = EveryType();
    device.entries[0].raw = 2;           // MODE: differs, not allowed
    device.entries[3].raw = 0x1000;      // KP: differs, allowed
    device.entries[6].raw = 0x00020000;  // GEAR: differs, allowed, two words
    const auto steps = PlanRestore(file, device, {9, 16, 17, 18});
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].entry.name, "KP");
    EXPECT_EQ(steps[0].deviceRaw, 0x1000u);
    EXPECT_EQ(steps[1].entry.name, "GEAR");
    EXPECT_EQ(steps[1].entry.raw, 0x00018000u);
}

TEST(RestorePlan, AFileMustFitTheDefinitionsOfTheDeviceType) {
    Definitions defs;
    ASSERT_TRUE(
        LoadAlternative(defs, 1, std::string("16 , \"KP\" , fixed4\n18 , \"GEAR\" , fixed16\n"))
            .registersLoaded);
    ParameterSet set = std::get<ParameterSet>(ParseParameterSet(kGood));
    EXPECT_EQ(CheckSetFitsDefinitions(set, defs, VX20_95), "");
    EXPECT_EQ(CheckSetFitsDefinitions(set, defs, KT42),
              "the file holds the parameters of a VX20-95, not of a KT42");
    set.entries[1].name = "GEARBOX";
    EXPECT_EQ(CheckSetFitsDefinitions(set, defs, VX20_95),
              "line 8: register 18 is GEARBOX (fixed16, 2 words) in the file but GEAR (fixed16, 2 "
              "words) in the "
              "definitions");
    set.entries[1].number = 19;
    EXPECT_NE(CheckSetFitsDefinitions(set, defs, VX20_95)
                  .find("register 19 (GEARBOX) is not in the definitions"),
              std::string::npos);
}

}  // namespace
}  // namespace vindelor::registers
