#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <numeric>
#include <vector>

#include "firmware/Atmega162fix.h"
#include "firmware/Crc.h"

namespace vindelor::firmware {
namespace {

std::vector<std::uint8_t> Counting(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t k = 0; k < n; ++k) v[k] = static_cast<std::uint8_t>(k);
    return v;
}

TEST(FixAtmega162Block, MovesTheTwoRunsAndKeepsTheRest) {
    auto block = Counting(140);
    ASSERT_TRUE(FixAtmega162Block(block));
    for (int k = 0; k < 16; ++k) EXPECT_EQ(block[k], k) << k;
    for (int k = 16; k < 40; ++k) EXPECT_EQ(block[k], k - 16 + 84) << k;
    for (int k = 40; k < 108; ++k) EXPECT_EQ(block[k], k - 40 + 16) << k;
    for (int k = 108; k < 140; ++k) EXPECT_EQ(block[k], k) << k;  // beyond 128 too
}

TEST(FixAtmega162Block, ReadAsFourByteEntriesMovesEntries21To26AndThen4To20) {
    auto block = Counting(128);
    ASSERT_TRUE(FixAtmega162Block(block));
    std::array<int, 32> entryAt{};
    for (int slot = 0; slot < 32; ++slot)
        entryAt[static_cast<std::size_t>(slot)] = block[static_cast<std::size_t>(slot * 4)] / 4;
    const std::array<int, 32> expected = {0,  1,  2,  3,  21, 22, 23, 24, 25, 26, 4,
                                          5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                                          16, 17, 18, 19, 20, 27, 28, 29, 30, 31};
    EXPECT_EQ(entryAt, expected);
}

TEST(FixAtmega162Block, LeavesABlockShorterThan128BytesAlone) {
    auto block = Counting(127);
    const auto before = block;
    EXPECT_FALSE(FixAtmega162Block(block));
    EXPECT_EQ(block, before);
}

TEST(PatchAtmega162Payload, RearrangesAddsTwoAtOffset130AndRenewsTheTrailingCheck) {
    auto payload = Counting(258);
    payload[130] = 0x12;
    payload[131] = 0x34;
    auto expected = payload;
    FixAtmega162Block(expected);
    ASSERT_TRUE(PatchAtmega162Payload(payload));
    EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + 128, payload.begin()));
    EXPECT_EQ(payload[130], 0x12);
    EXPECT_EQ(payload[131], 0x36);
    EXPECT_EQ(Crc16(payload), 0) << "check over all but the last two bytes, high byte first";
}

TEST(PatchAtmega162Payload, TheSumAtOffset130WrapsAt16Bits) {
    auto payload = Counting(200);
    payload[130] = 0xFF;
    payload[131] = 0xFF;
    ASSERT_TRUE(PatchAtmega162Payload(payload));
    EXPECT_EQ(payload[130], 0x00);
    EXPECT_EQ(payload[131], 0x01);
}

TEST(PatchAtmega162Payload, LeavesAPayloadTooShortForOffset131Alone) {
    auto payload = Counting(131);
    const auto before = payload;
    EXPECT_FALSE(PatchAtmega162Payload(payload));
    EXPECT_EQ(payload, before);
}

}  // namespace
}  // namespace vindelor::firmware
