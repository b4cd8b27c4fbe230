// The texts of the group-write module's status block and register reply.
#include <gtest/gtest.h>

#include <vector>

#include "modules/GroupModule.h"

namespace vindelor::modules {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ModuleStatusText, ShowsPositionStatusSequenceAndErrors) {
    Bytes block(108, 0);
    const Bytes head = {0x02, 0x00, 0xE8, 0x03, 0x00, 0x00, 0x07, 0x05};
    std::copy(head.begin(), head.end(), block.begin());
    EXPECT_EQ(ModuleStatusText(block),
              "Actual position = 1000\r\nModuleStatus = 0b0000'0000'0000'0010\r\n"
              "Last group sequence = 5\r\nRecieve errors = 7\r\n");
}

TEST(ModuleStatusText, APositionIsSigned) {
    const Bytes block = {0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(ModuleStatusText(block),
              "Actual position = -2\r\nModuleStatus = 0b1111'1111'1111'1111\r\n"
              "Last group sequence = 255\r\nRecieve errors = 255\r\n");
}

TEST(ModuleRegisterText, ShowsTheValueAsSigned32Bit) {
    EXPECT_EQ(ModuleRegisterText(11, 0xFFFFFFFFu), "11 = -1");
    EXPECT_EQ(ModuleRegisterText(0, 2147483648u), "0 = -2147483648");
    EXPECT_EQ(ModuleRegisterText(255, 1234), "255 = 1234");
}

}  // namespace
}  // namespace vindelor::modules
