// "Address check" over its whole range, twice: some 35000 exchanges with the simulated flash
// bootloader on a pseudo-terminal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "largemotor/FlashTools.h"
#include "largemotor/LargeMotorFixture.h"
#include "sim/FlashBootloader.h"

namespace vindelor::largemotor {
namespace {

class FlashTools : public testing::LargeMotorFixture<sim::FlashBootloader> {
protected:
    void SetUp() override {
        device = std::make_shared<sim::FlashBootloader>();
        open(device);
    }
};

TEST_F(FlashTools, AddressCheckPrintsOnceAndThenNothingWhenNothingChanges) {
    device->setSectorStarts({});
    AddressCheckState state;
    std::vector<std::string> lines;
    std::vector<std::uint32_t> labels;
    AddressCheck(context(), state, [&](const std::string& l) { lines.push_back(l); },
                 [&](std::uint32_t a) { labels.push_back(a); });
    EXPECT_EQ(lines, (std::vector<std::string> {"Start Address 0xBFF000 = 0", "End Address 0xBFF000 = 0"}));
    const auto probes = device->probedAddresses();
    ASSERT_EQ(probes.size(), (0xC21000u - 0xBFF000u) / 8);
    EXPECT_EQ(probes.front(), 0xBFF000u);
    EXPECT_EQ(probes.back(), 0xC20FF8u);
    EXPECT_EQ(labels.size(), 0x22000u / 0x100);
    EXPECT_EQ(labels.front(), 0xBFF000u);

    lines.clear();
    AddressCheck(context(), state, [&](const std::string& l) { lines.push_back(l); });
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(listening());
}

}  // namespace
}  // namespace vindelor::largemotor
