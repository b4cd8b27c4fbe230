// A whole FPGA image of 128 KiB goes out at the boot rate of 57600 baud: 23 s on the line.
#include "largemotor/DownloadFixture.h"

namespace vindelor::largemotor {
namespace {

using namespace test;
using testing::Bytes;
using namespace std::chrono_literals;

TEST_F(Download, WithTheFpgaSendsTheImageUpToTheHighestAddressWithItsGapsAsZeros) {
    fpgaPath = dir.write("fpga.hex", testing::HexText().data(0, {1, 2, 3}).data(0x1FFF0, Counting(16, 5)).text());
    ASSERT_TRUE(run(true, 40s));
    Bytes image(0x20000, 0);
    image[0] = 1;
    image[1] = 2;
    image[2] = 3;
    const Bytes tail = Counting(16, 5);
    std::copy(tail.begin(), tail.end(), image.begin() + 0x1FFF0);
    EXPECT_EQ(device->announcedFpga(), 0x20000u);
    EXPECT_EQ(device->fpga(), image);
    EXPECT_TRUE(device->finished());
    const auto p = progress();
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(p.front(), 1024 * 100 / (1500 + 0x20000));
    EXPECT_EQ(p.back(), 100);
    EXPECT_TRUE(std::is_sorted(p.begin(), p.end()));
    EXPECT_TRUE(loaded());
    EXPECT_TRUE(boxes().empty());
    EXPECT_TRUE(result.success());
    EXPECT_EQ(port->GetBaudRate(), 19200u);
    EXPECT_TRUE(listening());
}

}  // namespace
}  // namespace vindelor::largemotor
