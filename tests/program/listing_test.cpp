// The listing of single commands, the dump line and the walk through a program image.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "program/Listing.h"
#include "program/TVarpCode.h"
#include "program/VarpError.h"

namespace vindelor::program {
namespace {

using Bytes = std::vector<std::uint8_t>;

TProgramCommand Command(Bytes bytes, std::uint16_t address = 0) {
    TProgramCommand c(0);
    c.Length = static_cast<std::uint8_t>(bytes.size());
    c.Bytes = std::move(bytes);
    c.Address = address;
    return c;
}

struct ListingCase {
    Bytes bytes;
    const char* text;
};
void PrintTo(const ListingCase& c, std::ostream* os) {
    for (std::uint8_t b : c.bytes) *os << std::hex << static_cast<int>(b) << ' ';
}


class ListingTest : public ::testing::TestWithParam<ListingCase> {};

TEST_P(ListingTest, ListsTheCommandFromItsBytes) {
    EXPECT_EQ(ListCommand(Command(GetParam().bytes)), GetParam().text);
    EXPECT_EQ(TVarpCode::ListCommand(Command(GetParam().bytes)), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    InstructionSet, ListingTest,
    ::testing::Values(
        ListingCase {{0x00}, "End of program"},
        ListingCase {{0x01}, "Wait for in position before continuing"},
        ListingCase {{0x02}, "Wait for not in position, before continuing"},
        ListingCase {{0x03}, "Reserved!"},
        ListingCase {{0x04, 0x81, 0x81, 0x8C}, "Test inputs (High order): LLHDDDDDDH Condition: OR"},
        ListingCase {{0x04, 0x00, 0x00, 0x00}, "Test inputs (High order): DDDDDDDDDD Condition: AND"},
        ListingCase {{0x04, 0xF0, 0xFF, 0x0E}, "Test inputs (High order): HLHHHHLLLL Condition: AND"},
        ListingCase {{0x05, 0x35}, "Test input 5 Edge: 1 High: 1"},
        ListingCase {{0x05, 0xCF}, "Test input 15 Edge: 0 High: 0"},
        ListingCase {{0x06}, "Clear edge detect on all inputs"},
        ListingCase {{0x07, 0x12}, "Send fastvx command"},
        ListingCase {{0x08, 0x11}, "Output action"},
        ListingCase {{0x09}, "Reserved!"},
        ListingCase {{0x10}, "Reserved!"},
        ListingCase {{0x16}, "Reserved!"},  // low 4 bits would be "Clear edge"
        ListingCase {{0x1F}, "Reserved!"},
        ListingCase {{0x20, 0xAB}, "Load Immediate IS: 8 bit unsigned OS: 8 bit unsigned Value: 0xAB"},
        ListingCase {{0x2D, 0x34, 0x12}, "Load Immediate IS: 32 bit Signed OS: 16 bit unsigned Value: 0x1234"},
        ListingCase {{0x26, 0xFE, 0xFF}, "Load Immediate IS: 16 bit unsigned OS: 16 bit signed Value: 0xFFFE"},
        ListingCase {{0x2B, 0x78, 0x56, 0x34, 0x12},
                     "Load Immediate IS: 16 bit signed OS: 32 bit signed Value: 0x12345678"},
        ListingCase {{0x30}, "Operator"},
        ListingCase {{0x3F}, "Operator"},
        ListingCase {{0x40, 0x00}, "Load Parameter Type: 8 bit unsigned Address: 0x00"},
        ListingCase {{0x4E, 0x1F}, "Store Variable Type: 16 bit signed Address: 0x1F"},
        ListingCase {{0x47, 0xA0}, "Load Variable Type: 32 bit signed Address: 0xA0"},
        ListingCase {{0x49, 0x05}, "Store Parameter Type: 16 bit unsigned Address: 0x05"},
        ListingCase {{0x50}, "Load/Store Stack"},
        ListingCase {{0x5F}, "Load/Store Stack"},
        ListingCase {{0x60, 0x80}, "Jump condition: 0 Rel: 0x80 (-128 dec)"},
        ListingCase {{0x62, 0x02}, "Jump condition: 1 Rel: 0x02 (2 dec)"},
        ListingCase {{0x64, 0x7F}, "Jump condition: 2 Rel: 0x7F (127 dec)"},
        ListingCase {{0x66, 0xFF}, "Jump condition: 3 Rel: 0xFF (-1 dec)"},
        ListingCase {{0x61, 0x34, 0x12}, "Jump condition: 0 Abs: 0x1234"},
        ListingCase {{0x63, 0x07, 0x00}, "Jump condition: 1 Abs: 0x0007"},
        ListingCase {{0x67, 0xFF, 0xFF}, "Jump condition: 3 Abs: 0xFFFF"},
        ListingCase {{0x68}, "Call/Return"},
        ListingCase {{0x6F, 0x01, 0x02}, "Call/Return"},
        ListingCase {{0x70}, "Unknown command..."},
        ListingCase {{0x85, 0x35}, "Unknown command..."},
        ListingCase {{0xFF, 0xFF, 0xFF, 0xFF}, "Unknown command..."}));

TEST(Listing, ReadsMissingOperandsAsZeroAndNeverPastTheRecord) {
    EXPECT_EQ(ListCommand(Command({0x04})), "Test inputs (High order): DDDDDDDDDD Condition: AND");
    EXPECT_EQ(ListCommand(Command({0x2B, 0x78})), "Load Immediate IS: 16 bit signed OS: 32 bit signed Value: 0x00000078");
    EXPECT_EQ(ListCommand(Command({0x63})), "Jump condition: 1 Abs: 0x0000");
    EXPECT_EQ(ListCommand(Command({})), "");
}

TEST(Listing, DumpLinePrintsTheCommandsOwnLengthNotWhatTheListingReads) {
    // An output action lists from its opcode alone but shows both of its bytes.
    EXPECT_EQ(DumpLine(5, Command({0x08, 0x01}, 0x0A)), "005:000A: 0x08 0x01 Output action");
    EXPECT_EQ(DumpLine(1, Command({0x63, 0x07, 0x00}, 2)), "001:0002: 0x63 0x07 0x00 Jump condition: 1 Abs: 0x0007");
    EXPECT_EQ(DumpLine(4, Command({0x62, 0xF6}, 8)), "004:0008: 0x62 0xF6 Jump condition: 1 Rel: 0xF6 (-10 dec)");
    // Wider numbers keep all their digits.
    EXPECT_EQ(DumpLine(0x1234, Command({0x00}, 0xFFFE)), "1234:FFFE: 0x00 End of program");
}

TEST(Listing, CommandSizeFollowsTheEncodingAndTheOperandsRead) {
    struct Case {
        std::uint8_t opcode;
        int size;
    };
    const Case cases[] = {{0x00, 1}, {0x03, 1}, {0x04, 4}, {0x05, 2}, {0x07, 2}, {0x08, 2}, {0x14, 1},
                          {0x15, 1}, {0x20, 2}, {0x21, 3}, {0x22, 3}, {0x23, 5}, {0x30, 1}, {0x4C, 2},
                          {0x5A, 1}, {0x60, 2}, {0x61, 3}, {0x66, 2}, {0x67, 3}, {0x68, 1}, {0xFF, 1}};
    for (const Case& c : cases) EXPECT_EQ(CommandSize(c.opcode), c.size) << "opcode " << int(c.opcode);
}

TEST(Listing, SplitsAnImageIntoItsCommands) {
    const Bytes sample = {0x05, 0x35, 0x62, 0x02, 0x08, 0x11, 0x05, 0x34, 0x62, 0xF6, 0x08, 0x01, 0x60, 0xF2};
    const ImageCommands split = SplitImage(sample);
    EXPECT_FALSE(split.truncated);
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < split.commands.size(); ++i) lines.push_back(DumpLine(i, split.commands[i]));
    EXPECT_EQ(lines, (std::vector<std::string> {
                         "000:0000: 0x05 0x35 Test input 5 Edge: 1 High: 1",
                         "001:0002: 0x62 0x02 Jump condition: 1 Rel: 0x02 (2 dec)",
                         "002:0004: 0x08 0x11 Output action",
                         "003:0006: 0x05 0x34 Test input 4 Edge: 1 High: 1",
                         "004:0008: 0x62 0xF6 Jump condition: 1 Rel: 0xF6 (-10 dec)",
                         "005:000A: 0x08 0x01 Output action",
                         "006:000C: 0x60 0xF2 Jump condition: 0 Rel: 0xF2 (-14 dec)",
                     }));
}

TEST(Listing, ImageEndingInsideACommandKeepsWhatIsThere) {
    const ImageCommands split = SplitImage(Bytes {0x00, 0x61, 0x34});
    EXPECT_TRUE(split.truncated);
    ASSERT_EQ(split.commands.size(), 2u);
    EXPECT_EQ(DumpLine(1, split.commands[1]), "001:0001: 0x61 0x34 Jump condition: 0 Abs: 0x0034");
    EXPECT_TRUE(SplitImage(Bytes {}).commands.empty());
}

TEST(Listing, ImageLargerThanTheAddressRangeIsRefused) {
    EXPECT_NO_THROW(SplitImage(Bytes(kMaxImageSize, 0x00)));
    EXPECT_THROW(SplitImage(Bytes(kMaxImageSize + 1, 0x00)), VarpError);
}

}  // namespace
}  // namespace vindelor::program
