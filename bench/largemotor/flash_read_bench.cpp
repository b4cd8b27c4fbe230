// "Read Flash" of the whole 128 KiB against the simulated flash bootloader paced at 57600 baud,
// run as the window runs it: the job on a worker, the calling ("window") thread in a local
// event loop handling the echo and progress messages.
//
//   cmake --preset bench && cmake --build --preset bench --target flash_read_bench
//   build/bench/bench/flash_read_bench
//
// Counters: seconds (one whole read), bound_s (the wire time of one pass: every byte that
// crosses the line in both directions at 57600 baud, 10 bits a byte), times_wire (the read's
// time against it: the verified read reads every block twice, goal at most 2.05; the fast one
// once), window_cpu_pct (processor time of the waiting thread, in percent of the read's time).
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QObject>

#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "app/PortJob.h"
#include "app/QtMessageSink.h"
#include "largemotor/BootCommands.h"
#include "largemotor/FlashTools.h"
#include "protocol/ByteText.h"
#include "protocol/RecvThread.h"
#include "serial/TSerCom.h"
#include "sim/FlashBootloader.h"
#include "sim/SimPort.h"

namespace {

using namespace vindelor;
using Clock = std::chrono::steady_clock;

constexpr int kBaud = 57600;
constexpr int kBitsPerByte = 10;
constexpr std::size_t kMemoLimit = 250;  // the "Recieved" memo stops growing here

double ThreadCpuSeconds() {
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void BM_ReadFlashAt57600(benchmark::State& state) {
    const auto mode = state.range(0) ? largemotor::FlashReadMode::Fast : largemotor::FlashReadMode::Verified;
    auto device = std::make_shared<sim::FlashBootloader>();
    device->setLineRate(kBaud);
    sim::SimPort sim(device);
    sim.setBaudRate(kBaud);
    serial::TSerCom port(sim.slavePath(), kBaud, 8000);
    port.Open();

    // The window's side: the echo memo and the progress label, fed by queued calls.
    QObject window;
    std::string memo;
    std::string label;
    app::QtMessageSink sink(&window, [&](const protocol::Message& m) {
        if (m.number == protocol::MsgReceivedByte && memo.size() < kMemoLimit)
            memo += protocol::ByteText(static_cast<std::uint8_t>(m.wParam));
    });
    protocol::RecvThread thread(&port, &sink);
    std::atomic<bool> cancel {false};
    const std::string path = "/tmp/vindelor-flash-read-bench.bin";

    // Both directions on the line: 8 command bytes out, 3 + 1024 + 4 answer bytes back per block.
    const double wireBytes = 128.0 * (8 + 3 + 1024 + 4);
    const double bound = wireBytes * kBitsPerByte / kBaud;
    double seconds = 0;
    double cpu = 0;
    for (auto _ : state) {
        port.SetBaudRate(kBaud);
        memo.clear();
        largemotor::ToolContext ctx {port, &thread, &sink, largemotor::RealSleep, &cancel};
        const auto start = Clock::now();
        const double cpuStart = ThreadCpuSeconds();
        app::RunPortJob([&] {
            largemotor::ReadFlashToFile(
                ctx, path,
                [&](std::uint32_t n) {
                    app::PostToWindow(&window, [&label, n] { label = largemotor::ReadCountText(n); });
                },
                mode);
        });
        cpu += ThreadCpuSeconds() - cpuStart;
        // The closing 100 ms pause of the tool is not line time.
        seconds += std::chrono::duration<double>(Clock::now() - start).count() - 0.1;
        if (label != "128 (100%)") state.SkipWithError("the read did not end with 128 (100%)");
    }
    std::remove(path.c_str());
    const double n = static_cast<double>(state.iterations());
    state.counters["seconds"] = seconds / n;
    state.counters["bound_s"] = bound;
    state.counters["times_wire"] = seconds / n / bound;
    state.counters["window_cpu_pct"] = cpu / seconds * 100;
}
BENCHMARK(BM_ReadFlashAt57600)->ArgName("fast")->Arg(0)->Arg(1)->Iterations(2)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
