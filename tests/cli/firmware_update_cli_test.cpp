// vindelor-cli firmware: the module loader from the command line, against the simulated
// bootloader on a pseudo-terminal.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "support/LoaderFixture.h"
#include "support/RunCli.h"
#include "support/Spawn.h"
#include "support/TempDir.h"

extern char** environ;

namespace vindelor::cli {
namespace {

using testing::Bytes;
using testing::Counting;
using testing::ImageFor;
using testing::RunCli;

class FirmwareUpdateCli : public ::testing::Test {
protected:
    void StartDevice(sim::Bootloader::Config config) {
        config.startInBootloader = true;
        device = std::make_shared<sim::Bootloader>(config);
        sim = std::make_unique<sim::SimPort>(device);
    }
    std::string WriteImage(const firmware::ImageWriter& image) {
        const auto& b = image.Bytes();
        return dir.write("image.vxf", std::string(b.begin(), b.end()));
    }
    std::string PortArg() const { return "--port " + sim->slavePath(); }

    testing::TempDir dir;
    std::shared_ptr<sim::Bootloader> device;
    std::unique_ptr<sim::SimPort> sim;
};

TEST_F(FirmwareUpdateCli, PrintsEachStatusOnceAndEndsWithDone) {
    StartDevice(sim::Bootloader::ForMode(3, 5));
    auto image = ImageFor(3, 5, "VXM-NC \xB5");
    image.AddErase(2).AddFlash(0, firmware::WithBlockCheck(Counting(30))).AddFlash(0x100, firmware::WithBlockCheck(Counting(30)));
    const auto r = RunCli(PortArg() + " firmware " + WriteImage(image));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Please wait - resetting motor\n"
              "Bootloader version 0x0102; image: VXM-NC \xC2\xB5\n"
              "Erasing\n"
              "Transfering (0%)\n"
              "Transfer OK\n"
              "Transfering (50%)\n"
              "Transfer OK\n"
              "Done\n");
}

TEST_F(FirmwareUpdateCli, PrintsEachFailedAttemptAndEndsWithFailed) {
    StartDevice(sim::Bootloader::ForMode(3, 6));
    auto image = ImageFor(3, 5);
    image.AddFlash(0, firmware::WithBlockCheck(Counting(30)));
    const auto r = RunCli(PortArg() + " firmware " + WriteImage(image));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Attempt 1 failed: Incompatible hardware!\nFailed!\n"), std::string::npos) << r.out;
    // stderr says where it stopped, as for every command that fails.
    EXPECT_NE(r.err.find("The update failed (attempt 1: Incompatible hardware!)"), std::string::npos) << r.err;
    EXPECT_TRUE(device->blocks().empty());
}

TEST_F(FirmwareUpdateCli, ACorruptImageIsRefusedBeforeAnythingIsSent) {
    StartDevice(sim::Bootloader::ForMode(0));
    auto image = ImageFor(0);
    image.AddFlash(0, firmware::WithBlockCheck(Counting(30)));
    Bytes bytes = image.Bytes();
    bytes[bytes.size() / 2] ^= 1;
    const std::string file = dir.write("bad.vxf", std::string(bytes.begin(), bytes.end()));
    auto r = RunCli(PortArg() + " firmware " + file);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("(Fejl 1) Fejl ved indl\xC2\xB5sning af firmware fil: " + file + " (CRC Error in file)"),
              std::string::npos)
        << r.err;
    r = RunCli(PortArg() + " firmware " + dir.file("missing.vxf"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("(Error reading the file)"), std::string::npos) << r.err;
    EXPECT_TRUE(sim->received().empty());
}

// An image made elsewhere with a record its announce cannot carry: refused before the port
// is opened.
TEST_F(FirmwareUpdateCli, ARecordTheAnnounceCannotCarryIsRefusedBeforeAnythingIsSent) {
    StartDevice(sim::Bootloader::ForMode(1, 1));
    auto image = ImageFor(1, 1);
    image.AddFlash(0x10000, firmware::WithBlockCheck(Counting(30)));
    const auto r = RunCli(PortArg() + " firmware " + WriteImage(image));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("16-bit address"), std::string::npos) << r.err;
    EXPECT_TRUE(sim->received().empty());
}

// --timeout ends an update that cannot end (a module that never answers) as Ctrl+C does.
TEST_F(FirmwareUpdateCli, TimeoutEndsAnUpdateOnASilentModule) {
    StartDevice(sim::Bootloader::ForMode(0));
    device->setSilent(true);
    auto image = ImageFor(0);
    image.AddFlash(0, firmware::WithBlockCheck(Counting(30)));
    const auto r = RunCli(PortArg() + " firmware --timeout 1.5 " + WriteImage(image));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.ends_with("Aborted!\n")) << r.out;
    EXPECT_NE(r.err.find("No end of the update within 1.5 s"), std::string::npos) << r.err;
    EXPECT_TRUE(device->blocks().empty());
    EXPECT_EQ(RunCli(PortArg() + " firmware --timeout 0 " + WriteImage(image)).status, 2);
}

// vindelor-sim as a module without a reset command, whose replies leave late: the update asks
// for the power cycle, SIGUSR1 to the simulator is the engineer doing it, and the update ends.
TEST_F(FirmwareUpdateCli, TheSimulatedModuleIsTurnedOffAndOnWhenAsked) {
    auto image = ImageFor(3, 1);
    image.AddErase(1).AddFlash(0, firmware::WithBlockCheck(Counting(300)));
    const std::string file = WriteImage(image);
    testing::Spawned module(std::string(VINDELOR_SIM) +
                                " --bootloader 3 --hardware 1 --baud 19200 --reply-delay-ms 100 --erase-ms 300",
                            dir.file("sim.out"), dir.file("sim.err"));
    ASSERT_TRUE(module.waitFor("/dev/", false, 5000)) << module.err();
    const std::string path = module.out().substr(0, module.out().find('\n'));
    testing::Spawned update(std::string(VINDELOR_CLI) + " --port " + path + " firmware --timeout 60 " + file,
                            dir.file("cli.out"), dir.file("cli.err"));
    ASSERT_TRUE(update.waitFor("Connecting - Please turn off/on the motor", false, 15000)) << update.out();
    module.signal(SIGUSR1);
    EXPECT_EQ(update.wait(30000), 0) << update.out() << update.err();
    EXPECT_TRUE(update.out().ends_with("Done\n")) << update.out();
    EXPECT_TRUE(module.waitFor("module turned off and on", true, 1000));
    EXPECT_EQ(module.stop(SIGTERM, 5000), 0);
}

TEST_F(FirmwareUpdateCli, InfoShowsTheImageLikeImageInfo) {
    auto image = ImageFor(2, 0, "info");
    image.AddFlash(0x10, Counting(4));
    const std::string file = WriteImage(image);
    const auto info = RunCli("firmware --info " + file);
    const auto same = RunCli("image info " + file);
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out, same.out);
}

// Ctrl+C ends the update cleanly: the loader is told to terminate and reports "Aborted!".
TEST_F(FirmwareUpdateCli, InterruptEndsWithAborted) {
    StartDevice(sim::Bootloader::ForMode(3, 5));
    auto image = ImageFor(3, 5);
    for (std::uint32_t k = 0; k < 40; ++k) image.AddFlash(k * 0x100, firmware::WithBlockCheck(Counting(30)));
    const std::string file = WriteImage(image);

    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string portPath = sim->slavePath();
    const char* argv[] = {VINDELOR_CLI, "--port", portPath.c_str(), "firmware", file.c_str(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, VINDELOR_CLI, &actions, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);

    std::string text;
    char buf[256];
    bool interrupted = false;
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) {
        text.append(buf, static_cast<std::size_t>(n));
        if (!interrupted && text.find("Transfering (5%)") != std::string::npos) {
            ::kill(pid, SIGINT);
            interrupted = true;
        }
    }
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_TRUE(text.ends_with("Aborted!\n")) << text;
    EXPECT_LT(device->blocks().size(), 40u);
}

}  // namespace
}  // namespace vindelor::cli
