// The demo's expansion module: its running firmware answers the text poll at the firmware's
// rate; once its reset request has started the bootloader, the firmware is silent.
#include "sim/ModuleWithBootloader.h"

#include <gtest/gtest.h>

#include "modules/ModulePoll.h"
#include "sim/SimPort.h"

namespace vindelor::sim {
namespace {

TEST(ModuleWithBootloader, TheRunningFirmwareAnswersThePollAndTheBootloaderTakesOverOnReset) {
    auto firmware = std::make_shared<RegisterDevice>();
    firmware->feedModuleText("Hello");
    auto config = Bootloader::ForMode(0);
    auto module =
        std::make_shared<ModuleWithBootloader>(std::make_shared<Bootloader>(config), firmware);
    SimPort sim(module);
    sim.setBaudRate(57600);  // paced at the module's own rate: 19200 while its firmware runs
    sim.setPaceInput(true);
    serial::TSerCom port(sim.slavePath(), Bootloader::kFirmwareBaud, 8000);
    port.Open();
    port.WaitTimeout = 300;
    EXPECT_EQ(modules::PollExchange(port), "Hello");
    EXPECT_EQ(modules::PollExchange(port), "");

    // The reset request of a loader-mode-0 module: its reset command three times, FF 00, AA.
    const std::uint8_t reset[] = {0x56, 0x56, 0x56, 0xFF, 0x00, 0xAA};
    port.SendString(reset, sizeof reset);
    ASSERT_TRUE(sim.waitReceived(7 + 7 + sizeof reset, 1000));
    EXPECT_EQ(module->loader().resetRequests(), 1);
    EXPECT_FALSE(module->loader().runningFirmware());
    firmware->feedModuleText("Late");
    EXPECT_THROW(modules::PollExchange(port), serial::TSerErr);
}

}  // namespace
}  // namespace vindelor::sim
