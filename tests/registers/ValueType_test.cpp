#include "registers/ValueType.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/CommaLocale.h"
#include "support/RecordingNotifier.h"

namespace vindelor::registers {
namespace {

struct TextCase {
    int type;
    std::uint32_t raw;
    const char* text;
};

const TextCase kValueTextCases[] = {
    {Dummy, 5, "          "},
    {Int16, 0xFFFF, "         -1        "},
    {Uint16, 0xFFFF, "      65535        "},
    {Int32, 0xFFFFFFFE, "         -2        "},
    {Uint32, 0xFFFFFFFF, " 4294967295        "},
    {Fixed4, 0x1000, "          1.0000000"},
    {Fixed8, 0xFF80, "         -0.5000000"},
    {Fixed16, 0x00018000, "          1.5000000"},
    {Fixed24, 0xFFFFFF00, "         -1.0000000"},
    {Version, 0x0123, "         18.3      "},
    {Version, 0xA0C5, "          3.5 Beta "},
    {Version, 0x8000, "          0.0      "},
};

void ExpectValueTexts() {
    for (const auto& c : kValueTextCases)
        EXPECT_EQ(valueText(c.type, c.raw), c.text) << "type " << c.type;
}

TEST(ValueText, FormatsEachTypeInItsColumnWidth) {
    ExpectValueTexts();
}

TEST(ValueText, HexViewShowsTwoWordsWhateverTheType) {
    EXPECT_EQ(hexValueText(0x00020001), " 0x00020001        ");
}

const TextCase kSampleTextCases[] = {
    {Dummy, 1, "          "},      {Int16, 0xFFFF, "-1"},
    {Uint16, 0xFFFF, "65535"},     {Int32, 0x80000000, "-2147483648"},
    {Uint32, 7, "          7"},    {Fixed4, 0x0800, "0.5000000"},
    {Fixed24, 0x180, "1.5000000"}, {Version, 0xA0C5, "3.5 Beta"},
};

void ExpectSampleTexts() {
    for (const auto& c : kSampleTextCases)
        EXPECT_EQ(sampleText(c.type, c.raw), c.text) << "type " << c.type;
}

TEST(SampleText, FormatsCellsWithoutPadding) {
    ExpectSampleTexts();
}

struct ParseCase {
    int type;
    const char* text;
    std::optional<std::int32_t> raw;
};

const ParseCase kParseCases[] = {
    {Int16, "70000", 70000},  // no range check: the low bytes go out
    {Int16, "-5", -5},
    {Int32, " 12 ", 12},
    {Int16, "", std::nullopt},
    {Int16, "1.5", std::nullopt},
    {Int16, "abc", std::nullopt},
    {Int32, "99999999999", std::nullopt},
    {Fixed16, "1.5", 98304},
    {Fixed4, "-0.5", -2048},
    {Fixed8, "0,5", 128},
    {Uint32, "3.9", 3},
    {Uint32, "4294967295", -1},  // 0xFFFFFFFF
    {Uint32, "x", std::nullopt},
    {Fixed24, "2", 512},
    {Version, "1.2", std::nullopt},  // versions are not typed in
    {Dummy, "1", std::nullopt},
    {Fixed8, "+0.25", 64},
    {Fixed8, "1e1", 2560},
    {Fixed8, "--1", std::nullopt},
    {Fixed8, "+-1", std::nullopt},
    {Fixed8, "1.5x", std::nullopt},
    {Fixed8, "1e999", std::nullopt},
    {Fixed8, "inf", std::nullopt},
    {Fixed8, "nan", std::nullopt},
};

void ExpectParsedValues() {
    for (const auto& c : kParseCases)
        EXPECT_EQ(parseValue(c.type, c.text), c.raw) << c.type << " '" << c.text << "'";
}

TEST(ParseValue, ConvertsTypedTextByType) {
    ExpectParsedValues();
}

// The list, the samples and typed values keep the point under a locale with a decimal comma.
TEST(NumberTexts, IgnoreTheLocaleOfTheProcess) {
    testing::CommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no locale with a decimal comma on this machine";
    ExpectValueTexts();
    ExpectSampleTexts();
    ExpectParsedValues();
}

TEST(RoundHalfAway, RoundsHalvesAwayFromZeroAndSaturates) {
    EXPECT_EQ(roundHalfAway(2.5), 3);
    EXPECT_EQ(roundHalfAway(-2.5), -3);
    EXPECT_EQ(roundHalfAway(0.49), 0);
    EXPECT_EQ(roundHalfAway(0.0), 0);
    EXPECT_EQ(roundHalfAway(1e12), INT32_MAX);
    EXPECT_EQ(roundHalfAway(-1e12), INT32_MIN);
}

using testing::RecordingNotifier;

TEST(WriteRegisterChecked, WarnsOutsideSixteenBitsAndWritesAnyway) {
    std::vector<std::uint8_t> out;
    protocol::Sender s = protocol::Sender::Capture(out, 255);
    RecordingNotifier n;
    writeRegisterChecked(s, n, 7, 40000, false);
    ASSERT_EQ(n.boxes.size(), 1u);
    EXPECT_EQ(n.boxes[0], "plain|Out of range|The parameter 7 is out of range (40000)");
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0x52, 0x52, 0x52, 0xFF, 0x00, 0x07, 0xF8, 0x02, 0xFD,
                                              0x40, 0xBF, 0x9C, 0x63, 0xAA, 0xAA}));
    out.clear();
    writeRegisterChecked(s, n, 7, 40000, true);
    EXPECT_EQ(n.boxes.size(), 1u);
    EXPECT_EQ(out[7], 0x04);
}

}  // namespace
}  // namespace vindelor::registers
