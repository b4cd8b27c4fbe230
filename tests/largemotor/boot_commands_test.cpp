// The bootloader frames, the first-stage loaders and the flash block, as bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "firmware/Crc.h"
#include "largemotor/BootCommands.h"
#include "support/HexText.h"
#include "support/TempDir.h"

namespace vindelor::largemotor {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct CommandCase {
    const char* name;
    Bytes bytes;
    Bytes expected;
};

class SingleCommands : public ::testing::TestWithParam<CommandCase> {};

TEST_P(SingleCommands, AreTheseBytes) { EXPECT_EQ(GetParam().bytes, GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Bootloader, SingleCommands,
    ::testing::Values(
        CommandCase {"Ping", PingCommand(), {0xA0, 0x00, 0x60}},
        CommandCase {"EraseSec15", EraseSectorCommand(15), {0xA2, 0x01, 0x0F, 0x4E}},
        CommandCase {"EraseSec0", EraseSectorCommand(0), {0xA2, 0x01, 0x00, 0x5D}},
        CommandCase {"Read32AtC00000", ReadCommand(0xC00000, 32), {0xA3, 0x05, 0xC0, 0x00, 0x00, 0x00, 0x20, 0x78}},
        CommandCase {"Read1024AtC1FC00", ReadCommand(0xC1FC00, 1024), {0xA3, 0x05, 0xC1, 0xFC, 0x00, 0x04, 0x00, 0x97}},
        CommandCase {"Set57600", SetBaudCommand(kBaudIndex57600), {0xAB, 0x01, 0x04, 0x50}},
        CommandCase {"BootActivate", WakeBytes(kWakeBoot),
                     {0xFF, 0x6C, 0xFF, 0x6C, 0xFF, 0x6C, 0xFF, 0x6C, 0xFF, 0x6C, 0xFF, 0x6C}},
        CommandCase {"BootActivateXC164", WakeBytes(kWakeXC164),
                     {0xFF, 0x7C, 0xFF, 0x7C, 0xFF, 0x7C, 0xFF, 0x7C, 0xFF, 0x7C, 0xFF, 0x7C}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(BootFrames, SumToZero) {
    const Bytes frame = BootFrame(Boot::Write, AddressAndLength(0xBFF008, 258));
    EXPECT_EQ(frame, (Bytes {0xA1, 0x05, 0xBF, 0xF0, 0x08, 0x01, 0x02, 0xA0}));
    unsigned sum = 0;
    for (auto b : frame) sum += b;
    EXPECT_EQ(sum & 0xFF, 0u);
}

struct AddressCase {
    const char* text;
    std::optional<std::uint32_t> value;
};

class DataAddress : public ::testing::TestWithParam<AddressCase> {};

TEST_P(DataAddress, ReadsDecimalOrHexAndKeepsTheLow24Bits) {
    EXPECT_EQ(ParseDataAddress(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, DataAddress,
                         ::testing::Values(AddressCase {"0xc00000", 0xC00000}, AddressCase {"0XC00400", 0xC00400},
                                           AddressCase {"12582912", 0xC00000}, AddressCase {"0x1C00010", 0xC00010},
                                           AddressCase {"4294967295", 0xFFFFFF}, AddressCase {"", std::nullopt},
                                           AddressCase {"0x", std::nullopt}, AddressCase {"12ab", std::nullopt},
                                           AddressCase {"-5", std::nullopt}, AddressCase {" 12", std::nullopt},
                                           AddressCase {"99999999999999999999999", std::nullopt}));

TEST(FirstStageLoaders, StoreTheByteCountsTheSecondStagesSend) {
    EXPECT_EQ(RangeOf(kLoader100).first, 0x100u);
    EXPECT_EQ(RangeOf(kLoader100).count(), 1024u);
    EXPECT_EQ(RangeOf(kLoader2C).first, 0x2Cu);
    EXPECT_EQ(RangeOf(kLoader2C).count(), 2004u);
    // The code's jump target is its start offset too.
    EXPECT_EQ(kLoader100[28] | kLoader100[29] << 8, 0x100);
    EXPECT_EQ(kLoader2C[28] | kLoader2C[29] << 8, 0x2C);
}

TEST(FlashBlock, CountsFromZeroUnderTheHexFileAndEndsWithItsCrc) {
    testing::TempDir dir;
    const std::string hex = dir.write("boot.h86", testing::HexText().data(8, {0xAA, 0xBB}).data(0x7FF, {0x77}).text());
    const auto block = PrepareFlashBlock(hex);
    ASSERT_EQ(block.size(), 2050u);
    const Bytes head(block.begin(), block.begin() + 16);
    EXPECT_EQ(head, (Bytes {0, 1, 2, 3, 4, 5, 6, 7, 0xAA, 0xBB, 10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(block[0x7FF], 0x77);
    const std::uint16_t crc = firmware::Crc16(block.data(), 2048);
    EXPECT_EQ(block[2048], crc >> 8);
    EXPECT_EQ(block[2049], crc & 0xFF);
}

TEST(FlashBlock, RefusesAHexFileBeyondTheBlock) {
    testing::TempDir dir;
    const std::string hex = dir.write("big.h86", testing::HexText().data(0x800, {1}).text());
    EXPECT_THROW(PrepareFlashBlock(hex), std::exception);
}

TEST(Texts, ReadCountAndAddress) {
    EXPECT_EQ(ReadCountText(12 * 1024), "12 (9%)");
    EXPECT_EQ(ReadCountText(0x20000), "128 (100%)");
    EXPECT_EQ(AddressText(0xC00100), "Address 0xC00100");
}

}  // namespace
}  // namespace vindelor::largemotor
