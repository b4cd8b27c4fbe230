// Wall time of one `vindelor-cli read` from start to exit against the simulated device on a
// pseudo-terminal (the device answers at once): the cost a script pays per call, with the
// 10 ms settle pause of the port open included.
//
//   build/bench/oneshot_read_bench
//
// Counters: median_ms / p90_ms / max_ms over the runs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "sim/RegisterDevice.h"
#include "sim/SimPort.h"

extern char** environ;

namespace {

using namespace vindelor;
using Clock = std::chrono::steady_clock;

// Runs the program with its output thrown away; its exit status, or -1.
int Run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

void BM_OneShotCliRead(benchmark::State& state) {
    auto device = std::make_shared<sim::RegisterDevice>();
    device->setValue(0x20, 0x1234);
    sim::SimPort sim(device);
    const std::vector<std::string> args = {VINDELOR_CLI, "--port", sim.slavePath(), "read", "32"};
    std::vector<double> runs;
    for (auto _ : state) {
        const auto start = Clock::now();
        if (Run(args) != 0) {
            state.SkipWithError("vindelor-cli read failed");
            break;
        }
        runs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    if (runs.empty()) return;
    std::sort(runs.begin(), runs.end());
    state.counters["median_ms"] = runs[runs.size() / 2];
    state.counters["p90_ms"] = runs[runs.size() * 9 / 10];
    state.counters["max_ms"] = runs.back();
}
BENCHMARK(BM_OneShotCliRead)->Iterations(200)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
