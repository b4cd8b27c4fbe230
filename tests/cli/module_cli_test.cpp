// vindelor-cli's expansion-module commands against the simulated device.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <thread>

#include "modules/MotorTests.h"

#include "support/RunCli.h"
#include "support/SimFixture.h"
#include "support/Spawn.h"

namespace vindelor::cli {
namespace {

using testing::Bytes;
using testing::CliRun;
using namespace std::chrono_literals;

class CliModules : public testing::CliSimFixture {
protected:
    CliRun run(const std::string& args) {
        return testing::RunCli(portArg() + " " + args, "cd " VINDELOR_SOURCE_DIR "/defs &&");
    }
    // Waits (at most 2 s) until the device has taken at least n 4-byte writes: the program
    // has ended, but a loaded machine may not have handed its last bytes to the device yet.
    void awaitWrites(std::size_t n) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (writes().size() < n && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // The 4-byte writes the device has taken, as (register, value).
    std::vector<std::pair<int, std::uint32_t>> writes() {
        std::vector<std::pair<int, std::uint32_t>> out;
        for (const auto& f : device->frames())
            if (f.letter == 'R' && f.body.size() == 6 && f.body[1] == 4)
                out.emplace_back(f.body[0], f.body[2] | f.body[3] << 8 | f.body[4] << 16 |
                                                static_cast<std::uint32_t>(f.body[5]) << 24);
        return out;
    }
};

TEST_F(CliModules, PollPrintsTheModulesTextForTheGivenTime) {
    device->feedModuleText("line one\r\nline two\r\n");
    CliRun r = run("poll --seconds 1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "line one\nline two\n");
    EXPECT_GT(device->pollCount(), 5);
}

// A text byte changed on the line no longer matches its complement: the reply is dropped and
// stderr says so, rather than a wrong text printed as the module's.
TEST_F(CliModules, PollDropsAReplyWhoseTextDoesNotMatchItsComplement) {
    device->feedModuleText("line one\r\n");
    sim->corruptOutputByte(7, 0x01);  // the first text byte of the first reply: 'l' becomes 'm'
    CliRun r = run("poll --seconds 1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("mine"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("dropped 1 garbled reply from the module"), std::string::npos) << r.err;
}

// The module does not answer the poll, or answers with the wrong letters only.
struct SilentPollCase {
    const char* name;
    bool silent;
};

void PrintTo(const SilentPollCase& c, std::ostream* os) { *os << c.name; }

class CliPollWithoutAnswer : public CliModules, public ::testing::WithParamInterface<SilentPollCase> {};

TEST_P(CliPollWithoutAnswer, IsStatusOneWithAMessage) {
    // Every reply the run can get is lost, or has a wrong second letter (each reply of an empty
    // text is 9 bytes long).
    constexpr std::size_t kReplyBytes = 9;
    for (std::size_t reply = 0; reply < 500; ++reply) {
        if (GetParam().silent)
            for (std::size_t i = 0; i < kReplyBytes; ++i) sim->dropOutputByte(reply * kReplyBytes + i);
        else
            sim->corruptOutputByte(reply * kReplyBytes + 1, 0x01);
    }
    CliRun r = run("poll --seconds 1");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("No answer from the module to the text poll"), std::string::npos) << r.err;
    EXPECT_GE(device->pollCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, CliPollWithoutAnswer,
                         ::testing::Values(SilentPollCase {"silent", true}, SilentPollCase {"wrong_letters", false}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(CliModules, ModuleStatusReadAndWrite) {
    device->setModuleStatus({0x02, 0x00, 0xE8, 0x03, 0x00, 0x00, 0x07, 0x05});
    CliRun r = run("module status");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Actual position = 1000\nModuleStatus = 0b0000'0000'0000'0010\nLast group sequence = 5\n"
              "Recieve errors = 7\n");
    r = run("module status --json");
    EXPECT_EQ(r.status, 0) << r.err;
    // "raw" is the whole block as it came.
    EXPECT_EQ(r.out.rfind("{\"position\":1000,\"status\":2,\"status_bits\":\"0b0000'0000'0000'0010\","
                          "\"last_group_sequence\":5,\"receive_errors\":7,\"raw\":[2,0,232,3,0,0,7,5,",
                          0),
              0u)
        << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 3), "]}\n");
    r = run("--echo module write 11 -1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("send: <5B><5B><5B><FF><00><0B><F4><04><FB><FF><00><FF><00><FF><00><FF><00><AA><AA>"),
              std::string::npos)
        << r.err;
    r = run("module read 11");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "11 = -1\n");
    EXPECT_EQ(run("module read eleven").status, 2);
}

TEST_F(CliModules, GroupWriteWithAnExplicitGroupIsTheTabsFrame) {
    device->setGroup(5);
    CliRun r = run("--echo group-write 3 1234 --group 5 --sequence 1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "next sequence 2\n");
    EXPECT_NE(r.err.find("send: <59><59><59><05><FA><01><FE><03><FC><02><FD><D2><2D><04><FB><AA><AA>"),
              std::string::npos)
        << r.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(device->value(3), 1234u);
    EXPECT_EQ(device->lastGroupSequence(), 1);
    r = run("group-write 200 1 --group 5");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Could not find parameter"), std::string::npos) << r.err;
}

TEST_F(CliModules, DebugAndProfiViewsPrintTheirTexts) {
    device->setDebugInfo({0x01, 0x00, 0x00, 0x34, 0x12, 0x00, 0x00, 0x7F});
    CliRun r = run("debug");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Timer\t\t: 4660\nCounter\t\t: 0\nMode Command: Command Mode, Command : 31\n"),
              std::string::npos)
        << r.out;

    EXPECT_EQ(run("profi write 1 2 300").status, 0);
    r = run("profi read");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 75), "Data 0: 0x01 \t(00000001)\nData 1: 0x02 \t(00000010)\nData 2: 0x2C \t(00101100)\n");
    EXPECT_EQ(run("profi write 1 2 3 4 5 6 7 8 9 10").status, 2);
    EXPECT_EQ(run("profi write x").status, 2);

    r = run("profi dump");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 60), "00: \n00 01 02 03 04 05 06 07 08  09 0A 0B 0C 0D 0E 0F \n10: \n");
}

TEST_F(CliModules, NoAnswerIsStatusOne) {
    CliRun r = run("--address 9 debug");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No answer"), std::string::npos) << r.err;
}

TEST_F(CliModules, BreakTestAndRotationWriteTheirRegisters) {
    CliRun r = run("break-test --ticks 3");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "register 2 = 3\nregister 2 = 0\nregister 2 = 3\n");
    awaitWrites(3);
    device->clearFrames();
    r = run("rotate --increment 5 --interval 15 --ticks 3");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "register 176 = 5\nregister 176 = 10\nregister 176 = 15\n");
    awaitWrites(5);
    EXPECT_EQ(writes(), (std::vector<std::pair<int, std::uint32_t>> {{2, 7}, {176, 5}, {176, 10}, {176, 15}, {2, 0}}));
    EXPECT_EQ(run("rotate --increment 101").status, 2);
    EXPECT_EQ(run("rotate --interval 14").status, 2);
    r = run("rotate --ticks 0");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--ticks: 0 is too small; the least is 1"), std::string::npos) << r.err;
    // The break test sends no stop: its help says what an odd number of ticks leaves.
    r = run("break-test --help");
    EXPECT_NE(r.out.find("after an odd number of ticks register 2 stays at 3"), std::string::npos) << r.out;
}

// --- Every way out of a rotation sends the stop ---

enum class WayOut { Signal, CloseOutput, CloseOutputPipeIgnored };

struct RotationEndCase {
    const char* name;
    WayOut way;
    int signal;     // the signal sent (WayOut::Signal)
    bool crash;     // a crash signal: the program dies of it, after its last words
};

void PrintTo(const RotationEndCase& c, std::ostream* os) { *os << c.name; }

class CliRotationEnd : public CliModules, public ::testing::WithParamInterface<RotationEndCase> {
protected:
    // vindelor-cli rotate with its output into a pipe; no core file from a crash.
    pid_t start(bool ignorePipe, int& out) {
        const std::string cli = VINDELOR_CLI;
        const std::string portPath = sim->slavePath();
        const std::string errPath = errFile.string();
        const char* argv[] = {cli.c_str(), "--port", portPath.c_str(), "rotate", "--interval", "15",
                              "--ticks", "100000", nullptr};
        int fds[2];
        if (::pipe(fds) != 0) return -1;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (err >= 0) ::dup2(err, STDERR_FILENO);
            const rlimit noCore {0, 0};
            ::setrlimit(RLIMIT_CORE, &noCore);
            if (ignorePipe) ::signal(SIGPIPE, SIG_IGN);
            ::execv(argv[0], const_cast<char**>(argv));
            ::_exit(127);
        }
        ::close(fds[1]);
        out = fds[0];
        return pid;
    }
    // The first line the program prints, read within 5 s.
    static std::string firstLine(int fd) {
        std::string text;
        char c = 0;
        pollfd pfd {fd, POLLIN, 0};
        while (text.find('\n') == std::string::npos && ::poll(&pfd, 1, 5000) > 0 && ::read(fd, &c, 1) == 1) text += c;
        return text;
    }
    // The wait status, or -1 when the program has not ended within 5 s.
    static int waitEnd(pid_t pid) {
        for (int i = 0; i < 500; ++i) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) return status;
            std::this_thread::sleep_for(10ms);
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return -1;
    }
    std::filesystem::path errFile =
        std::filesystem::temp_directory_path() / ("vindelor-rotate-err-" + std::to_string(::getpid()));
};

TEST_P(CliRotationEnd, SendsTheStopWrite) {
    const RotationEndCase& c = GetParam();
    int out = -1;
    const pid_t pid = start(c.way == WayOut::CloseOutputPipeIgnored, out);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(firstLine(out), "register 176 = 5\n");
    if (c.way == WayOut::Signal)
        ::kill(pid, c.signal);
    else
        ::close(out);  // the reader has seen enough, as `| head -1`
    const int status = waitEnd(pid);
    if (c.way == WayOut::Signal) ::close(out);
    std::string err = testing::Spawned::Read(errFile.string());
    std::filesystem::remove(errFile);
    ASSERT_NE(status, -1) << "still running; " << err;
    if (c.crash) {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << status << " " << err;
    } else {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << " " << err;
    }

    // The bytes of the stop write are on the wire: last of all, or (from a crash handler, which
    // may cut a frame short) twice in a row.
    const Bytes stop = modules::Rotation::StopFrame(255);
    Bytes twice = stop;
    twice.insert(twice.end(), stop.begin(), stop.end());
    Bytes wire;
    const auto stopArrived = [&] {
        wire = sim->received();
        if (c.crash) return std::search(wire.begin(), wire.end(), twice.begin(), twice.end()) != wire.end();
        return wire.size() >= stop.size() && Bytes(wire.end() - static_cast<long>(stop.size()), wire.end()) == stop;
    };
    // The program has ended, but the simulator may not have read all it wrote yet (a loaded
    // machine): wait for the stop, then a little longer for anything after it.
    for (int i = 0; i < 200 && !stopArrived(); ++i) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(stopArrived());
    EXPECT_EQ(device->value(modules::kModeRegister), 0u);
    const auto all = writes();
    ASSERT_GE(all.size(), 3u);
    EXPECT_EQ(all.front(), (std::pair<int, std::uint32_t> {2, 7}));
    // Whatever a dying program still wrote after its last words, no write of register 2 but the stop.
    for (std::size_t i = 1; i < all.size(); ++i)
        if (all[i].first == modules::kModeRegister) {
            EXPECT_EQ(all[i].second, 0u);
        }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliRotationEnd,
    ::testing::Values(RotationEndCase {"SIGINT", WayOut::Signal, SIGINT, false},
                      RotationEndCase {"SIGTERM", WayOut::Signal, SIGTERM, false},
                      RotationEndCase {"SIGHUP", WayOut::Signal, SIGHUP, false},
                      RotationEndCase {"SIGQUIT", WayOut::Signal, SIGQUIT, false},
                      RotationEndCase {"SIGPIPE", WayOut::Signal, SIGPIPE, false},
                      RotationEndCase {"SIGALRM", WayOut::Signal, SIGALRM, false},
                      RotationEndCase {"SIGUSR1", WayOut::Signal, SIGUSR1, false},
                      RotationEndCase {"SIGUSR2", WayOut::Signal, SIGUSR2, false},
                      RotationEndCase {"SIGRTMIN", WayOut::Signal, SIGRTMIN, false},
                      RotationEndCase {"SIGABRT", WayOut::Signal, SIGABRT, true},
                      RotationEndCase {"closed_output", WayOut::CloseOutput, 0, false},
                      RotationEndCase {"closed_output_SIGPIPE_ignored", WayOut::CloseOutputPipeIgnored, 0, false}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace vindelor::cli
