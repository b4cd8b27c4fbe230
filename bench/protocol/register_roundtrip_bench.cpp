// Register read round trip and idle cost of the receive thread, against the simulated device
// on a pseudo-terminal that answers at once.
//
//   build/bench/register_roundtrip_bench
//
// Counters: median_ms / p99_ms / max_ms of one read round trip (request written until the
// decoded value reaches the window side); cpu_pct: CPU used by the whole process, in percent
// of one core, while the connected receive thread idles or WaitByte waits out its time-out.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "protocol/QueueSink.h"
#include "protocol/RecvThread.h"
#include "protocol/Sender.h"
#include "serial/TSerCom.h"
#include "sim/RegisterDevice.h"
#include "sim/SimPort.h"
#include "support/CpuTime.h"

namespace {

using namespace vindelor;
using Clock = std::chrono::steady_clock;

struct Rig {
    Rig() : device(std::make_shared<sim::RegisterDevice>()), sim(device), port(sim.slavePath(), 19200, 8000) {
        port.Open();
        sender.setPort(&port);
        sender.setAddressSource([] { return 255; });
    }
    std::shared_ptr<sim::RegisterDevice> device;
    sim::SimPort sim;
    serial::TSerCom port;
    protocol::Sender sender;
    protocol::QueueSink sink;
};

void BM_RegisterReadRoundTrip(benchmark::State& state) {
    Rig rig;
    rig.device->setValue(0x20, 0x1234);
    protocol::RecvThread thread(&rig.port, &rig.sink);
    std::vector<double> trips;
    for (auto _ : state) {
        const auto start = Clock::now();
        rig.sender.SendReadRequest(0x20);
        auto m = rig.sink.take(protocol::MsgRegisterValue, std::chrono::milliseconds(1000));
        if (!m) {
            state.SkipWithError("no reply");
            break;
        }
        trips.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        rig.sink.clear();
    }
    if (trips.empty()) return;
    std::sort(trips.begin(), trips.end());
    state.counters["median_ms"] = trips[trips.size() / 2];
    state.counters["p99_ms"] = trips[trips.size() * 99 / 100];
    state.counters["max_ms"] = trips.back();
}
BENCHMARK(BM_RegisterReadRoundTrip)->Iterations(2000)->Unit(benchmark::kMillisecond);

void BM_IdleReceiveThreadCpu(benchmark::State& state) {
    Rig rig;
    protocol::RecvThread thread(&rig.port, &rig.sink);
    for (auto _ : state) {
        const double cpu0 = bench::ProcessCpuSeconds();
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        state.counters["cpu_pct"] = 100.0 * (bench::ProcessCpuSeconds() - cpu0) / wall;
    }
}
BENCHMARK(BM_IdleReceiveThreadCpu)->Iterations(1)->Unit(benchmark::kSecond);

void BM_WaitByteTimeOutCpu(benchmark::State& state) {
    Rig rig;
    for (auto _ : state) {
        const double cpu0 = bench::ProcessCpuSeconds();
        const auto t0 = Clock::now();
        try {
            rig.port.WaitByte(2000);
        } catch (const serial::TSerErr&) {
        }
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        state.counters["cpu_pct"] = 100.0 * (bench::ProcessCpuSeconds() - cpu0) / wall;
    }
}
BENCHMARK(BM_WaitByteTimeOutCpu)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
