#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <thread>
#include <vector>

#include "firmware/Crc.h"

namespace vindelor::firmware {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

// Bit-by-bit definitions, independent of the tables.
std::uint16_t SlowCrc16(const std::vector<std::uint8_t>& data) {
    unsigned c = 0;
    for (std::uint8_t b : data) {
        c ^= unsigned{b} << 8;
        for (int k = 0; k < 8; ++k) c = (c & 0x8000u) ? ((c << 1) ^ 0x1021u) : (c << 1);
        c &= 0xFFFFu;
    }
    return static_cast<std::uint16_t>(c);
}

std::uint32_t SlowCrc32(const std::vector<std::uint8_t>& data) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::uint8_t b : data) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? ((c >> 1) ^ 0xEDB88320u) : (c >> 1);
    }
    return ~c;
}

struct CheckValue {
    std::string_view input;
    std::uint16_t crc16;
    std::uint32_t crc32;
};

class CrcCheckValues : public ::testing::TestWithParam<CheckValue> {};

TEST_P(CrcCheckValues, MatchThePublishedValues) {
    const auto data = Bytes(GetParam().input);
    EXPECT_EQ(Crc16(data), GetParam().crc16);
    EXPECT_EQ(Crc32(data), GetParam().crc32);
}

INSTANTIATE_TEST_SUITE_P(KnownInputs, CrcCheckValues,
                         ::testing::Values(CheckValue{"123456789", 0x31C3, 0xCBF43926u},
                                           CheckValue{"", 0x0000, 0x00000000u},
                                           CheckValue{"A", 0x58E5, 0xD3D99E8Bu},
                                           CheckValue{"The quick brown fox jumps over the lazy dog",
                                                      0xF0C8, 0x414FA339u}),
                         [](const auto& p) { return "Input" + std::to_string(p.index); });

TEST(Crc, OfNoBytesWorksWithANullPointer) {
    EXPECT_EQ(Crc16(nullptr, 0), 0);
    EXPECT_EQ(Crc32(nullptr, 0), 0u);
}

TEST(Crc, TablesAreTheStandardOnes) {
    const auto& t16 = Crc16Table();
    EXPECT_EQ(t16[0], 0x0000);
    EXPECT_EQ(t16[1], 0x1021);
    EXPECT_EQ(t16[255], 0x1EF0);
    const auto& t32 = Crc32Table();
    EXPECT_EQ(t32[0], 0x00000000u);
    EXPECT_EQ(t32[1], 0x77073096u);
    EXPECT_EQ(t32[128], 0xEDB88320u);
    EXPECT_EQ(t32[255], 0x2D02EF8Du);
}

TEST(Crc, AgreesWithTheBitwiseDefinitionForEveryLengthUpTo300) {
    std::vector<std::uint8_t> data;
    std::uint32_t seed = 12345;
    for (int n = 0; n <= 300; ++n) {
        ASSERT_EQ(Crc16(data), SlowCrc16(data)) << "length " << n;
        ASSERT_EQ(Crc32(data), SlowCrc32(data)) << "length " << n;
        seed = seed * 1103515245u + 12345u;
        data.push_back(static_cast<std::uint8_t>(seed >> 16));
    }
}

TEST(Crc, Crc16OverDataAndItsCheckHighByteFirstIsZero) {
    auto data = Bytes("record body");
    const std::uint16_t check = Crc16(data);
    data.push_back(static_cast<std::uint8_t>(check >> 8));
    data.push_back(static_cast<std::uint8_t>(check & 0xFF));
    EXPECT_EQ(Crc16(data), 0);
}

TEST(Crc, BuildingTheCrc32TableAgainChangesNothing) {
    const auto before = Crc32Table();
    BuildCrc32Table();
    BuildCrc32Table();
    EXPECT_EQ(Crc32Table(), before);
}

TEST(Crc, Crc32MayBeUsedFromSeveralThreadsWhileLoadersAreConstructed) {
    const auto data = Bytes("123456789");
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int k = 0; k < 2000; ++k) {
                BuildCrc32Table();
                if (Crc32(data) != 0xCBF43926u) ++wrong[static_cast<std::size_t>(t)];
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

struct Reversal {
    std::uint32_t value;
    int width;
    std::uint32_t reversed;
};

class ReverseBitsCases : public ::testing::TestWithParam<Reversal> {};

TEST_P(ReverseBitsCases, ReturnsTheLowBitsInReverseOrder) {
    EXPECT_EQ(ReverseBits(GetParam().value, GetParam().width), GetParam().reversed);
}

INSTANTIATE_TEST_SUITE_P(
    Widths, ReverseBitsCases,
    ::testing::Values(Reversal{0x01, 8, 0x80}, Reversal{0x80, 8, 0x01}, Reversal{0xF0, 8, 0x0F},
                      Reversal{0x1FF, 8, 0xFF}, Reversal{0x1, 1, 0x1}, Reversal{0x3, 4, 0xC},
                      Reversal{0x04C11DB7u, 32, 0xEDB88320u},
                      Reversal{0x00000001u, 32, 0x80000000u}, Reversal{0xABCD, 0, 0x0}),
    [](const auto& p) {
        return "Width" + std::to_string(p.param.width) + "Case" + std::to_string(p.index);
    });

}  // namespace
}  // namespace vindelor::firmware
