#include "registers/FilterLoader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/RecordingNotifier.h"
#include "support/TempDir.h"

namespace vindelor::registers {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(NormaliseToSum, ScalesAndGivesTheRemainderToTheLastNonZeroValue) {
    struct Case {
        std::array<std::int32_t, 4> in, out;
    };
    const Case cases[] = {
        {{16384, 16384, 16384, 16392}, {1024, 1024, 1024, 1024}},
        {{0, 0, 0, 0}, {0, 0, 0, 0}},
        {{0, 0, 32, 0}, {0, 0, 4096, 0}},
        {{-8, 0, 0, 0}, {4096, 0, 0, 0}},
    };
    for (auto c : cases) {
        normaliseToSum(c.in.data(), 4, 16, 4096);
        EXPECT_EQ(c.in, c.out);
    }
}

// Four registers each from KFF3 = 20, KVFX4 = 30, KVFY3 = 40, KVB3 = 50.
Definitions FilterDefinitions(bool withKvb = true) {
    Definitions d;
    const char* names[] = {"KFF3", "KVFX4", "KVFY3", "KVB3"};
    int i = 0;
    for (int set = 0; set < 4; ++set) {
        if (!withKvb && set == 3) break;
        for (int k = 0; k < 4; ++k) {
            auto& def = d.registerTable[static_cast<std::size_t>(i++)];
            def.name = k == 0 ? std::string("  ") + names[set] + "  " : "X";
            def.number = 20 + 10 * set + k;
            def.type = 1;
            def.words = 1;
        }
    }
    d.registerCount = i;
    return d;
}

class FilterFile : public ::testing::Test {
protected:
    void write(const std::vector<std::int32_t>& values) {
        std::ofstream out(path, std::ios::binary);
        for (std::int32_t v : values)
            for (int b = 0; b < 4; ++b) out.put(static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * b)) & 0xFF));
    }
    // The register and value of each write frame sent, in order.
    std::vector<std::pair<int, std::int16_t>> writes() const {
        std::vector<std::pair<int, std::int16_t>> out;
        for (std::size_t i = 0; i + 15 <= sent.size(); i += 15)
            out.emplace_back(sent[i + 5], static_cast<std::int16_t>(sent[i + 9] | sent[i + 11] << 8));
        return out;
    }
    testing::TempDir tmp;
    const std::filesystem::path path = tmp.path() / "filter.bin";
    Bytes sent;
    protocol::Sender sender = protocol::Sender::Capture(sent, 255);
    testing::RecordingNotifier boxes;
};

TEST_F(FilterFile, WritesTheSixteenCoefficientsInOrder) {
    std::vector<std::int32_t> v(24, 0);
    for (int k = 0; k < 4; ++k) v[static_cast<std::size_t>(k)] = k + 1;                           // KFF
    v[6] = 40; v[7] = -40; v[8] = 24; v[9] = -24;                                                 // KVFX x 1/16
    v[12] = 16384; v[13] = 16384; v[14] = 16384; v[15] = 16392;                                   // KVFY
    for (int k = 0; k < 4; ++k) v[static_cast<std::size_t>(18 + k)] = 100 + k;                    // KVB
    write(v);
    EXPECT_EQ(loadFilter(path.string(), VX20_95, FilterDefinitions(), sender, boxes), "");
    const std::vector<std::pair<int, std::int16_t>> expected = {
        {20, 1},    {21, 2},    {22, 3},    {23, 4},     {30, 3},    {31, -3},   {32, 2},    {33, -2},
        {50, 100},  {51, 101},  {52, 102},  {53, 103},   {40, 1024}, {41, 1024}, {42, 1024}, {43, 1024},
    };
    EXPECT_EQ(writes(), expected);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(FilterFile, OutOfRangeCoefficientsWarnAndAreWrittenAnyway) {
    std::vector<std::int32_t> v(22, 0);
    v[0] = 40000;
    write(v);
    EXPECT_EQ(loadFilter(path.string(), VX20_95, FilterDefinitions(), sender, boxes), "");
    EXPECT_EQ(boxes.boxes, (std::vector<std::string> {"plain|Out of range|The parameter 20 is out of range (40000)"}));
    EXPECT_EQ(writes().size(), 16u);
    EXPECT_EQ(writes()[0].second, static_cast<std::int16_t>(0x9C40));
}

TEST_F(FilterFile, NothingIsSentWhenItCannotGoRight) {
    struct Case {
        const char* what;
        std::size_t integers;
        int deviceType;
        bool allNames;
        bool error;
    };
    const Case cases[] = {
        {"another device type", 22, KT42, true, false},
        {"fewer than 22 coefficients", 21, VX20_95, true, true},
        {"a filter register missing", 22, VX20_95, false, true},
    };
    for (const auto& c : cases) {
        sent.clear();
        write(std::vector<std::int32_t>(c.integers, 1));
        const std::string error = loadFilter(path.string(), c.deviceType, FilterDefinitions(c.allNames), sender, boxes);
        EXPECT_EQ(!error.empty(), c.error) << c.what << ": " << error;
        EXPECT_TRUE(sent.empty()) << c.what;
    }
    EXPECT_NE(loadFilter("/nonexistent/filter.bin", VX20_95, FilterDefinitions(), sender, boxes), "");
}

TEST_F(FilterFile, OnlyTheFirst200IntegersAreRead) {
    write(std::vector<std::int32_t>(100000, 16));
    EXPECT_EQ(loadFilter(path.string(), VX20_95, FilterDefinitions(), sender, boxes), "");
    EXPECT_EQ(writes().size(), 16u);
}

}  // namespace
}  // namespace vindelor::registers
