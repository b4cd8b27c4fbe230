#include "registers/RegisterList.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "registers/ValueType.h"
#include "support/RecordingNotifier.h"
#include "support/TempDir.h"

namespace vindelor::registers {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Records what the register list asks of the window; the sender only collects bytes.
struct TestHost : RegisterListHost {
    TestHost() : s(protocol::Sender::Capture(sent, 255, 1)) {}
    protocol::Sender& sender() override { return s; }
    protocol::Notifier& notifier() override { return boxes; }
    void clearMemos() override { ++memoClears; }
    std::optional<std::string> askValue(const std::string& name) override {
        asked.push_back(name);
        return answer;
    }
    void pause(int ms) override { pauses.push_back(ms); }
    void openEditor(const std::string& path) override { edited.push_back(path); }

    Bytes sent;
    protocol::Sender s;
    testing::RecordingNotifier boxes;
    int memoClears = 0;
    std::optional<std::string> answer;
    std::vector<std::string> asked;
    std::vector<int> pauses;
    std::vector<std::string> edited;
};

// Definition files in a folder of their own, loaded into a register list.
class RegisterListTest : public ::testing::Test {
protected:
    void SetUp() override {
        write("tambrel.dat",
              "REGA             1  1\n"      // 1
              "SAMPLE1          1  2\n"      // 2: selectors 2..5
              "SAMPLE2          1  2\n"
              "SAMPLE3          1  2\n"
              "SAMPLE4          1  2\n"
              "RESERVED         1  0\n"      // 6, placeholder
              "POSITION         2  3\n"      // 7..8
              "MODE             1  2\n"      // 9
              "VERSION          1  9\n"      // 10
              "GAIN             1  4\n");    // 11
        write("bitdefs.dat",
              "OPMODE        9  0  2 Passive Velocity\n"
              "HIGHBITS      7 16 16\n");
        list.folder = dir.string();
        list.reload();
    }
    void write(const std::string& name, const std::string& text) { tmp.write(name, text); }

    testing::TempDir tmp;
    const std::filesystem::path& dir = tmp.path();
    TestHost host;
    RegisterList list {host};
};

TEST_F(RegisterListTest, LinesShowNumberNameValueAndTypeOrAPlaceholder) {
    list.onRegisterValue(2, 5);
    EXPECT_EQ(list.lines.at(1), "  2:SAMPLE1                   5          Word   ");
    EXPECT_EQ(list.lines.at(5), "***:RESERVED       ");
    EXPECT_EQ(list.lines.at(0), "  1:REGA                      0          Integer");
    EXPECT_EQ(list.lines.size(), 10u);
}

TEST_F(RegisterListTest, ATwoWordValueFillsTheNextWordButNotItsLine) {
    list.onRegisterValue(7, 0x00020001);
    EXPECT_EQ(list.registerWords[7], 1);
    EXPECT_EQ(list.registerWords[8], 2);
    EXPECT_NE(list.lines.at(6).find("131073"), std::string::npos) << list.lines.at(6);
}

TEST_F(RegisterListTest, RepliesForUnknownRegistersAreIgnored) {
    list.onRegisterValue(200, 7);
    list.onRegisterValue(0x10001, 7);  // only the low 16 bits of the number count
    EXPECT_EQ(list.registerWords[200], 0);
    EXPECT_EQ(list.registerWords[1], 7);
}

TEST_F(RegisterListTest, HexViewShowsTheTwoWordsAtTheNumber) {
    list.registerWords[1] = 0x0001;
    list.registerWords[2] = 0x0002;
    list.hexView = true;
    list.reload();
    EXPECT_NE(list.lines.at(0).find(" 0x00020001"), std::string::npos) << list.lines.at(0);
}

TEST_F(RegisterListTest, BitFieldsDecodeIntoTheirValueNames) {
    list.onRegisterValue(9, 1);
    ASSERT_EQ(list.bitFieldLines.size(), 2u);
    EXPECT_EQ(list.bitFieldLines[0], "OPMODE          1 Velocity");
    list.onRegisterValue(9, 3);  // past the names: no name
    EXPECT_EQ(list.bitFieldLines[0], "OPMODE          3 ");
    list.onRegisterValue(7, 0xABCD0000);
    EXPECT_EQ(list.bitFieldLines[1], "HIGHBITS     43981 ");
}

TEST_F(RegisterListTest, SelectorRepliesSetColumnTypesAndCaptionsByTheirLow16Bits) {
    list.onRegisterValue(4, 0x00070000 | 7);  // column 3 samples register 7 (POSITION)
    EXPECT_EQ(list.sampleTypes[2], Int32);
    EXPECT_EQ(list.sampleCaptions[2], "POSITION");
    list.onRegisterValue(5, 99);  // no such register: nothing changes
    EXPECT_EQ(list.sampleCaptions[3], "4");
}

TEST_F(RegisterListTest, SampleRowsReadEachColumnByItsTypeAndNumberFromOne) {
    list.onRegisterValue(2, 1);   // int16
    list.onRegisterValue(3, 7);   // int32: reads 4 bytes, the next sample is its high half
    list.onRegisterValue(4, 11);  // fixed4
    list.addSampleRow(Bytes {0xFF, 0xFF, 0x01, 0x00, 0x00, 0x10, 0x00, 0x00});
    ASSERT_EQ(list.sampleRows.size(), 1u);
    EXPECT_EQ(list.sampleRows[0][0], "1");
    EXPECT_EQ(list.sampleRows[0][1], "-1");
    EXPECT_EQ(list.sampleRows[0][2], "268435457");
    EXPECT_EQ(list.sampleRows[0][3], "1.0000000");
    list.addSampleRow(Bytes {1});  // a short reply reads as zeros
    EXPECT_EQ(list.sampleRows[1][0], "2");
    EXPECT_EQ(list.sampleRows[1][1], "1");
    list.btnClearSampleClick();
    list.addSampleRow(Bytes {});
    EXPECT_EQ(list.sampleRows[0][0], "1");
    EXPECT_EQ(list.sampleTypes[1], Int32);  // clearing keeps the columns
}

TEST_F(RegisterListTest, KeySReadsTheSelectorsOnlyWhileTheTableIsEmpty) {
    list.keyPress('s', -1);
    // Four read requests (9 bytes each), then the sample command.
    ASSERT_EQ(host.sent.size(), 4u * 9 + 7);
    EXPECT_EQ(host.sent[5], 2);
    EXPECT_EQ(host.sent[36], 'S');
    host.sent.clear();
    list.addSampleRow(Bytes(8));
    list.keyPress('S', -1);
    EXPECT_EQ(host.sent, (Bytes {0x53, 0x53, 0x53, 0xFF, 0x00, 0xAA, 0xAA}));
    EXPECT_EQ(host.memoClears, 2);
}

TEST_F(RegisterListTest, KeyWWritesTheTypedValueThenReadsItBack) {
    host.answer = "1.5";
    list.keyPress('w', 9);  // GAIN, fixed4
    EXPECT_EQ(host.asked, (std::vector<std::string> {"GAIN           "}));
    EXPECT_EQ(host.pauses, (std::vector<int> {100}));
    const Bytes write = {0x52, 0x52, 0x52, 0xFF, 0x00, 11, 0xF4, 0x02, 0xFD, 0x00, 0xFF, 0x18, 0xE7, 0xAA, 0xAA};
    const Bytes read = {0x50, 0x50, 0x50, 0xFF, 0x00, 11, 0xF4, 0xAA, 0xAA};
    Bytes both = write;
    both.insert(both.end(), read.begin(), read.end());
    EXPECT_EQ(host.sent, both);
}

TEST_F(RegisterListTest, KeyGWritesToTheGroupWithTheSequence) {
    host.answer = "5";
    list.keyPress('I', -1);
    list.keyPress('g', 0);
    ASSERT_GE(host.sent.size(), 17u);
    EXPECT_EQ(host.sent[0], 'Y');
    EXPECT_EQ(host.sent[5], 1);  // sequence advanced once by key I
}

TEST_F(RegisterListTest, WritesThatDoNotHappen) {
    struct Case {
        const char* what;
        int line;
        std::optional<std::string> answer;
        std::size_t questions;
        std::vector<std::string> boxes;
    };
    const Case cases[] = {
        {"placeholder line", 5, "1", 0, {}},
        {"version register", 8, "1", 0, {}},
        {"dialog cancelled", 0, std::nullopt, 1, {}},
        {"not a number", 0, "abc", 1, {"warning|Error|Invalid number"}},
        {"no line selected", -1, "1", 0, {}},
    };
    for (const auto& c : cases) {
        TestHost h;
        RegisterList l(h);
        l.folder = dir.string();
        l.reload();
        h.answer = c.answer;
        l.keyPress('W', c.line);
        EXPECT_TRUE(h.sent.empty()) << c.what;
        EXPECT_EQ(h.asked.size(), c.questions) << c.what;
        EXPECT_EQ(h.boxes.boxes, c.boxes) << c.what;
        EXPECT_TRUE(h.pauses.empty()) << c.what;
    }
}

TEST_F(RegisterListTest, AFailedWriteShowsInvalidNumberAndReadsNothingBack) {
    protocol::Sender unconnected;  // no port: every send fails
    struct : TestHost {
        protocol::Sender* broken;
        protocol::Sender& sender() override { return *broken; }
    } h;
    h.broken = &unconnected;
    RegisterList l(h);
    l.folder = dir.string();
    l.reload();
    h.answer = "1";
    l.keyPress('W', 0);
    EXPECT_EQ(h.boxes.boxes, (std::vector<std::string> {"warning|Error|Invalid number"}));
    EXPECT_TRUE(h.pauses.empty());
    l.keyPress('R', 0);
    EXPECT_EQ(h.boxes.boxes.back(), "warning|Error|Error sending");
}

TEST_F(RegisterListTest, KeysBAndNCopyValuesAsTextAndCode) {
    list.onRegisterValue(2, 5);
    list.onRegisterValue(7, 0x00020001);
    list.keyPress('b', 1);
    list.keyPress('n', 1);
    EXPECT_FALSE(list.saveValsVisible);
    list.keyPress('B', 1);
    list.keyPress('N', 1);
    list.keyPress('B', 6);  // two words: two lines
    list.keyPress('B', 5);  // placeholder: nothing
    EXPECT_TRUE(list.saveValsVisible);
    EXPECT_EQ(list.saveVals, (std::vector<std::string> {
                                 "0x02   0x0005   SAMPLE1        ",
                                 "{ 0x02,0x0005 }, // SAMPLE1        ",
                                 "0x07   0x0001   POSITION       ",
                                 "0x08   0x0002   POSITION       ",
                             }));
}

TEST_F(RegisterListTest, KeysAAndEToggleAndEditTheAlternativeFile) {
    list.keyPress('E', 0);
    EXPECT_TRUE(host.edited.empty());
    write("tambrel_alt.dat", "1 , \"ALTREG\" , int16\n");
    list.keyPress('a', 0);
    EXPECT_TRUE(list.altFiles);
    EXPECT_EQ(list.defs.registerCount, 1);
    list.keyPress('e', 0);
    EXPECT_EQ(host.edited, (std::vector<std::string> {"tambrel_alt.dat"}));
}

TEST_F(RegisterListTest, LoadErrorsAreShownAndKeepTheList) {
    write("tambrel.dat", "REGA             1  1\nBROKEN\n");
    list.reload();
    EXPECT_EQ(host.boxes.boxes, (std::vector<std::string> {"warning|Error|Error loading parameter file (LINE 2)"}));
    EXPECT_EQ(list.lines.size(), 10u);
}

TEST_F(RegisterListTest, ButtonsSendHeaderOnlyCommands) {
    list.btnResetClick();
    list.btnWriteToFlashClick();
    list.btnEnterSafeClick();
    list.btnExitSafeClick();
    ASSERT_EQ(host.sent.size(), 28u);
    EXPECT_EQ(host.sent[0], 'W');
    EXPECT_EQ(host.sent[7], 'V');
    EXPECT_EQ(host.sent[14], 'T');
    EXPECT_EQ(host.sent[21], 'U');
    EXPECT_EQ(host.memoClears, 4);
}

}  // namespace
}  // namespace vindelor::registers
