// A port that hangs up under a running vindelor-cli monitor and comes back.
#include <gtest/gtest.h>

#include <filesystem>

#include "registers/Definitions.h"
#include "sim/DeviceSetup.h"
#include "support/RunCli.h"
#include "support/SimFixture.h"
#include "support/Spawn.h"
#include "support/TempDir.h"

namespace vindelor::cli {
namespace {

using namespace std::chrono_literals;

// The port is a link to the simulator's pseudo-terminal, as a comN link or a udev name is:
// a new simulator behind the same name is the adapter plugged in again.
class CliReconnect : public testing::CliSimFixture {
protected:
    void SetUp() override {
        CliSimFixture::SetUp();
        link = dir.file("ttyTEST");
        pointLinkAt(sim->slavePath());
    }
    void pointLinkAt(const std::string& target) {
        const std::string tmp = link + ".new";
        std::filesystem::remove(tmp);
        std::filesystem::create_symlink(target, tmp);
        std::filesystem::rename(tmp, link);
    }
    // The device is gone: the name leads nowhere (a new pseudo-terminal of another test may
    // get the old number).
    void unplug() {
        pointLinkAt(dir.file("gone"));
        sim.reset();
    }
    std::unique_ptr<testing::Spawned> monitor(const std::string& flags) {
        return std::make_unique<testing::Spawned>(std::string(VINDELOR_CLI) + " --port " + link + " monitor " + flags,
                                                  dir.file("out"), dir.file("err"));
    }
    static std::vector<std::uint8_t> Reply(std::uint8_t reg, std::uint8_t value) {
        return {0x52, 0x52, 0x52, 0x00, 0xFF, reg, static_cast<std::uint8_t>(~reg), 0x02, 0xFD,
                value, static_cast<std::uint8_t>(~value), 0x00, 0xFF, 0xAA, 0xAA};
    }
    testing::TempDir dir;
    std::string link;
};

TEST_F(CliReconnect, MonitorSaysLostThenBackAndReadsAgain) {
    auto m = monitor("--reconnect");
    // Until the first line arrives the program may still be opening the port.
    for (int i = 0; i < 50 && !m->waitFor("register 32 = 5", false, 100); ++i) sim->inject(Reply(32, 5));
    ASSERT_TRUE(m->waitFor("register 32 = 5", false, 100)) << m->err();

    sim->hangUp();
    ASSERT_TRUE(m->waitFor("Port lost: " + link + " \u2014 waiting for it to return", true, 2000)) << m->err();
    unplug();
    std::this_thread::sleep_for(1500ms);  // a few tries find nothing
    EXPECT_EQ(m->err().find("Port back"), std::string::npos);

    auto device2 = std::make_shared<sim::RegisterDevice>();
    sim = std::make_unique<sim::SimPort>(device2);
    pointLinkAt(sim->slavePath());
    ASSERT_TRUE(m->waitFor("Port back", true, 3000)) << m->err();
    for (int i = 0; i < 50 && !m->waitFor("register 33 = 6", false, 100); ++i) sim->inject(Reply(33, 6));
    EXPECT_TRUE(m->waitFor("register 33 = 6", false, 100)) << m->out();
    EXPECT_EQ(m->stop(SIGINT, 3000), 0) << m->err();
    EXPECT_EQ(m->out().find("register 32 = 5"), 0u) << "what was shown before stays";
}

TEST_F(CliReconnect, WithoutReconnectALostPortEndsMonitorWithStatusOne) {
    auto m = monitor("");
    for (int i = 0; i < 50 && !m->waitFor("register 32 = 5", false, 100); ++i) sim->inject(Reply(32, 5));
    sim->hangUp();
    EXPECT_EQ(m->wait(3000), 1);
    EXPECT_NE(m->err().find("Port lost: " + link + "\n"), std::string::npos) << m->err();
}

TEST_F(CliReconnect, ScopeGoesOnSamplingAfterThePortComesBack) {
    ASSERT_EQ(sim::ConfigureAsMotor(*device, registers::VX20_95, sim::DefaultDefinitionsFolder()), "");
    testing::Spawned scope(std::string(VINDELOR_CLI) + " --port " + link + " scope --seconds 8 --reconnect",
                           dir.file("out"), dir.file("err"), sim::DefaultDefinitionsFolder());
    ASSERT_TRUE(scope.waitFor("time_s,V_IST,TEMP,MODE,STATUS\n0.", false, 5000)) << scope.err();
    sim->hangUp();
    ASSERT_TRUE(scope.waitFor("Port lost: " + link, true, 2000)) << scope.err();
    unplug();
    const std::size_t rowsBefore = scope.out().size();
    sim = std::make_unique<sim::SimPort>(device);
    pointLinkAt(sim->slavePath());
    ASSERT_TRUE(scope.waitFor("Port back", true, 3000)) << scope.err();
    EXPECT_EQ(scope.wait(10000), 0) << scope.err();
    EXPECT_GT(scope.out().size(), rowsBefore + 100) << "rows after the port came back";
    EXPECT_NE(scope.err().find(" rows/s"), std::string::npos) << scope.err();
}

}  // namespace
}  // namespace vindelor::cli
