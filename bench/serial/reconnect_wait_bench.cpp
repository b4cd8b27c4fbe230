// CPU spent while a lost port is waited for: PortReopener tries a device that is not there
// about once a second and blocks in between.
//
//   build/bench/reconnect_wait_bench
//
// Counters: cpu_pct, CPU of the whole process in percent of one core over the wait; tries,
// opens attempted per second (about 1).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "serial/PortReopener.h"
#include "serial/TSerCom.h"
#include "support/CpuTime.h"

namespace {

using namespace vindelor;
using Clock = std::chrono::steady_clock;

void BM_ReconnectWaitCpu(benchmark::State& state) {
    serial::TSerCom port("/nonexistent/ttyGONE", 19200, 8000);
    for (auto _ : state) {
        serial::PortReopener reopener;
        const double cpu0 = bench::ProcessCpuSeconds();
        const auto t0 = Clock::now();
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::seconds(5));
            reopener.stop();
        });
        const bool opened = reopener.reopen(port);
        stopper.join();
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        if (opened) state.SkipWithError("a port that does not exist opened");
        state.counters["cpu_pct"] = 100.0 * (bench::ProcessCpuSeconds() - cpu0) / wall;
    }
}
BENCHMARK(BM_ReconnectWaitCpu)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
