// vindelor-cli flash-write with its real pauses (11 s after 'F', 1 ms after every pair) against
// the simulated boot monitor on a pseudo-terminal.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim/FlashBootloader.h"
#include "sim/SimPort.h"
#include "support/RunCli.h"
#include "support/TempDir.h"

namespace vindelor::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(FlashWriteCli, WaitsElevenSecondsAndSendsTheFilePaddedTo4096Bytes) {
    testing::TempDir dir;
    auto bootloader = std::make_shared<sim::FlashBootloader>();  // listening at 19200
    sim::SimPort sim(bootloader);
    Bytes file(1500);
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i + 1);
    const std::string path = dir.write("flash.dat", file);

    // "Set 57600 Baud" first, as in the window: the boot monitor listens at 57600 only then.
    const testing::CliRun baud = testing::RunCli("--port " + sim.slavePath() + " flash-baud");
    ASSERT_EQ(baud.status, 0) << baud.err;
    sim.clearReceived();
    const testing::CliRun r = testing::RunCli("--port " + sim.slavePath() + " flash-write " + path);
    EXPECT_EQ(r.status, 0) << r.err;
    Bytes image(4096, 0);
    std::copy(file.begin(), file.end(), image.begin());
    EXPECT_EQ(bootloader->lostBytes(), 0u) << "every byte came when the boot monitor could take it";
    EXPECT_EQ(bootloader->flashFile().size(), image.size());
    EXPECT_EQ(bootloader->flashFile(), image);
    EXPECT_TRUE(bootloader->flashFileErased());
    EXPECT_EQ(sim.garbledBytes(), 0u);
    EXPECT_NE(r.err.find("sent 4096 of 4096"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace vindelor::cli
