#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "firmware/HexFile.h"
#include "serial/TSerErr.h"
#include "support/TempDir.h"

namespace vindelor::firmware {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string& path) {
    const Bytes b = ReadBytes(path);
    return std::string(b.begin(), b.end());
}

std::string Fixture(const std::string& name) {
    return std::string(VINDELOR_TEST_DATA) + "/firmware/" + name;
}

enum class Outcome { Ok, Overflow, Underflow, Checksum, Format };

const char* Text(Outcome o) {
    switch (o) {
        case Outcome::Overflow:
            return "Buffer overflow loading hexfile";
        case Outcome::Underflow:
            return "Buffer underflow loading hexfile";
        case Outcome::Checksum:
            return "Checksum error in hexfile";
        default:
            return "";
    }
}

// Runs a load and tells how it ended.
Outcome Load(std::string_view text, Bytes& buffer, std::uint32_t base, std::int32_t* result,
             HexLoadOutputs out = {}) {
    try {
        *result = LoadHexText(text, buffer, base, out);
        return Outcome::Ok;
    } catch (const serial::TSerErr& e) {
        EXPECT_EQ(e.Code, 1);
        for (auto o : {Outcome::Overflow, Outcome::Underflow, Outcome::Checksum})
            if (std::string(e.Text) == Text(o)) return o;
        ADD_FAILURE() << "unexpected text " << e.Text;
    } catch (const HexFormatError&) {
        return Outcome::Format;
    }
    return Outcome::Ok;
}

// One load: the text, the buffer, and what must come of it. `stored` lists the bytes expected
// from index `storedAt` on (also after a failure: bytes before it stay).
struct HexCase {
    const char* name;
    std::string text;
    std::size_t capacity;
    std::uint32_t base;
    Outcome outcome;
    std::int32_t result;  // when Ok
    std::size_t storedAt;
    Bytes stored;
};

class HexCases : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexCases, LoadAsExpected) {
    const auto& c = GetParam();
    Bytes buffer(c.capacity, 0xEE);
    std::int32_t result = -7;
    ASSERT_EQ(Load(c.text, buffer, c.base, &result), c.outcome);
    if (c.outcome == Outcome::Ok) {
        EXPECT_EQ(result, c.result);
    }
    ASSERT_LE(c.storedAt + c.stored.size(), buffer.size());
    EXPECT_EQ(Bytes(buffer.begin() + static_cast<std::ptrdiff_t>(c.storedAt),
                    buffer.begin() + static_cast<std::ptrdiff_t>(c.storedAt + c.stored.size())),
              c.stored);
}

const std::string kEof = ":00000001FF\n";
// 16 bytes 00..0F at 0x0000 and at 0x0010.
const std::string kRec0 = ":10000000000102030405060708090A0B0C0D0E0F78\n";
const std::string kRec16 = ":10001000000102030405060708090A0B0C0D0E0F68\n";
const Bytes k0To15 = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

INSTANTIATE_TEST_SUITE_P(
    Records, HexCases,
    ::testing::Values(
        HexCase{"EmptyText", "", 16, 0, Outcome::Ok, 0, 0, {0xEE}},
        HexCase{"OnlyAnEndRecord", kEof, 16, 0, Outcome::Ok, 0, 0, {0xEE}},
        HexCase{"SixteenBytesAt0", kRec0 + kEof, 64, 0, Outcome::Ok, 16, 0, k0To15},
        HexCase{"ASecondRecordAt0x10", kRec0 + kRec16 + kEof, 64, 0, Outcome::Ok, 32, 16, k0To15},
        HexCase{"RecordsAfterTheEndRecordStillLoad", kEof + kRec16, 64, 0, Outcome::Ok, 32, 16,
                k0To15},
        HexCase{
            "LowerCaseDigits", ":02000000abcd86\n", 4, 0, Outcome::Ok, 2, 0, {0xAB, 0xCD, 0xEE}},
        HexCase{"NoLineEndsAndJunkBetweenRecords",
                "junk:0100000011EE;;\r\n\t:0100010022DC",
                4,
                0,
                Outcome::Ok,
                2,
                0,
                {0x11, 0x22, 0xEE}},
        HexCase{"AColonAtTheEndIsARecordCutShort", "x:", 4, 0, Outcome::Format, 0, 0, {0xEE}},
        HexCase{"HighestIndexNotLastWritten",
                ":010005007783\n:010001006698\n",
                8,
                0,
                Outcome::Ok,
                6,
                1,
                {0x66, 0xEE, 0xEE, 0xEE, 0x77}},
        HexCase{"SegmentRecord0x1000",
                ":020000021000EC\n:01000000AB54\n",
                0x10001,
                0,
                Outcome::Ok,
                0x10001,
                0x10000,
                {0xAB}},
        HexCase{"LinearRecord0x0001",
                ":020000040001F9\n:01000000AB54\n",
                0x10001,
                0,
                Outcome::Ok,
                0x10001,
                0x10000,
                {0xAB}},
        HexCase{"ALaterOffsetRecordReplacesTheEarlierOne",
                ":020000040001F9\n:020000040000FA\n:01000000AB54\n",
                4,
                0,
                Outcome::Ok,
                1,
                0,
                {0xAB}},
        HexCase{"BaseAddressShiftsIndexZero",
                ":020100001122CA\n",
                4,
                0x100,
                Outcome::Ok,
                2,
                0,
                {0x11, 0x22}},
        HexCase{"RunsOnPastA64KiBBoundaryWithoutWrapping",
                ":02FFFF001122CD\n",
                0x10001,
                0,
                Outcome::Ok,
                0x10001,
                0xFFFF,
                {0x11, 0x22}},
        HexCase{"OverflowAtCapacityKeepsTheBytesBeforeIt",
                ":0407FE00A1A2A3A46D\n",
                2048,
                0,
                Outcome::Overflow,
                0,
                2046,
                {0xA1, 0xA2}},
        HexCase{"OverflowFar",
                ":020000040010EA\n:0100000011EE\n",
                2048,
                0,
                Outcome::Overflow,
                0,
                0,
                {0xEE}},
        HexCase{"UnderflowBeforeTheBase",
                ":0100FF0055AB\n",
                16,
                0x100,
                Outcome::Underflow,
                0,
                0,
                {0xEE}},
        HexCase{"ChecksumErrorAfterTheBytesAreStored",
                ":020000001122CA\n",
                4,
                0,
                Outcome::Checksum,
                0,
                0,
                {0x11, 0x22}},
        HexCase{"ChecksumOfAnEndRecord", ":00000001FE\n", 4, 0, Outcome::Checksum, 0, 0, {0xEE}},
        HexCase{"StartSegmentRecordType3",
                ":0400000312345678E5\n",
                4,
                0,
                Outcome::Format,
                0,
                0,
                {0xEE}},
        HexCase{
            "StartLinearRecordType5", ":0400000512345678E3\n", 4, 0, Outcome::Format, 0, 0, {0xEE}},
        HexCase{"UnknownType6", ":00000006FA\n", 4, 0, Outcome::Format, 0, 0, {0xEE}},
        HexCase{
            "NonHexDigitInData", ":02000000112G00\n", 4, 0, Outcome::Format, 0, 0, {0x11, 0xEE}},
        HexCase{"BlankInsideARecord", ": 0100000011EE\n", 4, 0, Outcome::Format, 0, 0, {0xEE}},
        HexCase{"CutShortInTheCount", ":0", 4, 0, Outcome::Format, 0, 0, {0xEE}},
        HexCase{"CutShortInTheAddress", ":0100", 4, 0, Outcome::Format, 0, 0, {0xEE}},
        HexCase{"CutShortInTheData", ":0200000011", 4, 0, Outcome::Format, 0, 0, {0x11, 0xEE}},
        HexCase{"CutShortBeforeTheChecksum", ":0100000011", 4, 0, Outcome::Format, 0, 0, {0x11}},
        HexCase{"CutShortInTheChecksum", ":0100000011E", 4, 0, Outcome::Format, 0, 0, {0x11}},
        HexCase{"LineEndInsideARecord", ":01000000\n11EE\n", 4, 0, Outcome::Format, 0, 0, {0xEE}},
        HexCase{"CutShortInASegmentValue", ":0200000210", 4, 0, Outcome::Format, 0, 0, {0xEE}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(LoadHexText, MaskAndCountReportEveryStoredByteAndRepeatsCountTwice) {
    const std::string text = ":020002001122C9\n:0100030033C9\n" + kEof;
    Bytes buffer(8, 0);
    Bytes mask(8, 0);
    std::int32_t count = -1;
    EXPECT_EQ(LoadHexText(text, buffer, 0, {.mask = mask, .byteCount = &count}), 4);
    EXPECT_EQ(mask, (Bytes{0, 0, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(count, 3);
    EXPECT_EQ(buffer, (Bytes{0, 0, 0x11, 0x33, 0, 0, 0, 0}));
}

TEST(LoadHexText, LeavesEveryByteTheFileDoesNotDefine) {
    Bytes buffer(8, 0x5A);
    LoadHexText(":0100030033C9\n", buffer, 0);
    EXPECT_EQ(buffer, (Bytes{0x5A, 0x5A, 0x5A, 0x33, 0x5A, 0x5A, 0x5A, 0x5A}));
}

TEST(LoadHexText, RefusesAMaskSmallerThanTheBuffer) {
    Bytes buffer(8), mask(7);
    EXPECT_THROW(LoadHexText(kEof, buffer, 0, {.mask = mask, .byteCount = nullptr}),
                 std::invalid_argument);
}

TEST(LoadHexText, AFormatErrorTellsWhereItIs) {
    Bytes buffer(64);
    try {
        LoadHexText(kRec0 + ":01000000X1EE\n", buffer, 0);
        FAIL() << "no error";
    } catch (const HexFormatError& e) {
        EXPECT_EQ(e.Line, 2u);
        EXPECT_EQ(e.Offset, kRec0.size() + 9);
    }
}

TEST(LoadHexText, ACapacityOfZeroTakesNoBytes) {
    Bytes buffer;
    std::int32_t r = 0;
    EXPECT_EQ(Load(kEof, buffer, 0, &r), Outcome::Ok);
    EXPECT_EQ(Load(":0100000011EE", buffer, 0, &r), Outcome::Overflow);
}

// Files written by GNU objcopy and srec_cat (see tests/data/firmware/make-fixtures.sh), loaded
// with their lowest address as the base, give the bytes the tools read back from them.
struct ToolFile {
    const char* hex;
    std::uint32_t base;
    const char* bin;
};

class ToolFiles : public ::testing::TestWithParam<ToolFile> {};

TEST_P(ToolFiles, LoadToTheBytesTheToolsProduce) {
    const Bytes expected = ReadBytes(Fixture(GetParam().bin));
    ASSERT_FALSE(expected.empty());
    Bytes buffer(expected.size() + 64, 0);
    std::int32_t count = 0;
    const auto size = LoadHexFile(Fixture(GetParam().hex), buffer, GetParam().base,
                                  {.mask = {}, .byteCount = &count});
    ASSERT_EQ(size, static_cast<std::int32_t>(expected.size()));
    EXPECT_EQ(count, size);
    buffer.resize(expected.size());
    EXPECT_EQ(buffer, expected);
}

TEST_P(ToolFiles, LoadTheSameInLowerCaseAndWithCrLfLineEnds) {
    std::string text = ReadText(Fixture(GetParam().hex));
    std::string variant;
    for (char c : text) {
        if (c == '\n') variant += '\r';
        variant += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const Bytes expected = ReadBytes(Fixture(GetParam().bin));
    Bytes buffer(expected.size(), 0);
    EXPECT_EQ(LoadHexText(variant, buffer, GetParam().base),
              static_cast<std::int32_t>(expected.size()));
    EXPECT_EQ(buffer, expected);
}

TEST_P(ToolFiles, OverflowOneByteShortOfTheImage) {
    const Bytes expected = ReadBytes(Fixture(GetParam().bin));
    Bytes buffer(expected.size() - 1, 0);
    try {
        LoadHexFile(Fixture(GetParam().hex), buffer, GetParam().base);
        FAIL() << "no error";
    } catch (const serial::TSerErr& e) {
        EXPECT_STREQ(e.Text, "Buffer overflow loading hexfile");
    }
    EXPECT_EQ(buffer, Bytes(expected.begin(), expected.end() - 1))
        << "bytes before the failure stay";
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, ToolFiles,
    ::testing::Values(ToolFile{"objcopy-0.hex", 0, "counting-300.bin"},
                      ToolFile{"objcopy-segment-1ff80.hex", 0x1FF80, "block-256.bin"},
                      ToolFile{"srec-segment-1ffc0.hex", 0x1FFC0, "block-256.bin"},
                      ToolFile{"objcopy-linear-10ff80.hex", 0x10FF80, "block-256.bin"},
                      ToolFile{"srec-linear-2fff0.hex", 0x2FFF0, "block-256.bin"}),
    [](const auto& p) {
        std::string name;
        for (const char* c = p.param.hex; *c && *c != '.'; ++c)
            if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
        return name;
    });

// A file is read in pieces; records that straddle the end of a piece, long runs of text
// without records and faults far into a file behave as they do in one block of text.
class HexFileInPieces : public ::testing::Test {
  protected:
    std::string Write(const std::string& text) const { return dir_.write("f.hex", text); }

  private:
    testing::TempDir dir_;
};

// 255 data bytes at 0x0100, the longest record there is.
std::string LongestRecord() {
    std::string r = ":FF010000";
    unsigned sum = 0xFF + 0x01;
    char hex[3];
    for (unsigned k = 0; k < 255; ++k) {
        std::snprintf(hex, sizeof hex, "%02X", k);
        r += hex;
        sum += k;
    }
    std::snprintf(hex, sizeof hex, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return r + hex + "\r\n";
}

TEST_F(HexFileInPieces, LoadLikeTheSameTextInOneBlockWhereverARecordFalls) {
    const std::string record = LongestRecord();
    for (std::size_t pad = 65536 - record.size() - 3; pad <= 65536 + 3; ++pad) {
        const std::string text =
            std::string(pad, ' ') + record + kRec0 + std::string(70000, '\n') + kRec16;
        Bytes fromFile(0x200, 0), fromText(0x200, 0);
        std::int32_t countFile = 0, countText = 0;
        const auto a = LoadHexFile(Write(text), fromFile, 0, {.mask = {}, .byteCount = &countFile});
        const auto b = LoadHexText(text, fromText, 0, {.mask = {}, .byteCount = &countText});
        ASSERT_EQ(a, b) << "padding " << pad;
        ASSERT_EQ(a, 0x1FF);
        ASSERT_EQ(countFile, 255 + 32);
        ASSERT_EQ(fromFile, fromText) << "padding " << pad;
    }
}

TEST_F(HexFileInPieces, AFaultFarIntoTheFileNamesItsLineAndOffset) {
    std::string text;
    for (int k = 0; k < 5000; ++k) text += kRec0;  // 215 000 bytes, 5000 lines
    const std::size_t at = text.size() + 3;
    text += ":01Z0000011EE\n";
    Bytes buffer(16);
    try {
        LoadHexFile(Write(text), buffer, 0);
        FAIL() << "no error";
    } catch (const HexFormatError& e) {
        EXPECT_EQ(e.Line, 5001u);
        EXPECT_EQ(e.Offset, at);
    }
}

TEST_F(HexFileInPieces, ARecordCutShortByTheEndOfALongFileIsAFormatError) {
    std::string text(100000, '\n');
    text += ":10000000000102030405060708090A0B0C0D0E";
    Bytes buffer(16, 0xEE);
    EXPECT_THROW(LoadHexFile(Write(text), buffer, 0), HexFormatError);
    EXPECT_EQ(buffer[14], 14) << "the bytes before the end are stored";
    EXPECT_EQ(buffer[15], 0xEE);
}

TEST(LoadHexFile, AStartAddressRecordWrittenByObjcopyFailsTheLoadAfterTheData) {
    const Bytes expected = ReadBytes(Fixture("block-256.bin"));
    Bytes buffer(256, 0);
    EXPECT_THROW(LoadHexFile(Fixture("objcopy-start-1ff80.hex"), buffer, 0x1FF80), HexFormatError);
    EXPECT_EQ(buffer, expected);
}

TEST(LoadHexFile, AFileThatCannotBeOpenedIsASystemError) {
    Bytes buffer(16);
    EXPECT_THROW(LoadHexFile(Fixture("no-such-file.hex"), buffer, 0), std::system_error);
    EXPECT_THROW(LoadHexFile(Fixture(""), buffer, 0), std::system_error) << "a folder";
}

}  // namespace
}  // namespace vindelor::firmware
