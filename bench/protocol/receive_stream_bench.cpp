// CPU of the receive thread while the device streams value replies back to back at 921600
// baud, the fastest rate the tool offers: the thread must keep up at a small part of a core.
//
//   build/bench/receive_stream_bench
//
// Counters: cpu_pct: CPU time of the receive thread alone (from /proc/self/task), in percent
// of one core over the streaming time; frames_per_s: value replies decoded per second.
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "protocol/Messages.h"
#include "protocol/RecvThread.h"
#include "serial/TSerCom.h"
#include "sim/RegisterDevice.h"
#include "sim/SimPort.h"
#include "support/CpuTime.h"

namespace {

using namespace vindelor;
using Clock = std::chrono::steady_clock;

// Counts decoded values; everything else (the byte echo) is dropped as the window would show it.
class CountingSink : public protocol::MessageSink {
public:
    void post(int number, std::int64_t, std::int64_t) override {
        if (number != protocol::MsgRegisterValue) return;
        std::lock_guard lock(mutex_);
        ++values_;
        changed_.notify_all();
    }
    void send(const protocol::Message&) override {}
    // Waits until `count` values have come or none came for a second; returns how many came.
    std::size_t waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        for (;;) {
            const std::size_t seen = values_;
            if (seen >= count ||
                !changed_.wait_for(lock, std::chrono::seconds(1), [&] { return values_ != seen; }))
                return values_;
        }
    }
    void reset() {
        std::lock_guard lock(mutex_);
        values_ = 0;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t values_ = 0;
};

void BM_ReceiveThreadCpuAt921600(benchmark::State& state) {
    constexpr int kBaud = 921600;
    constexpr int kSeconds = 5;
    auto device = std::make_shared<sim::RegisterDevice>();
    sim::SimPort sim(device);
    sim.setBaudRate(kBaud);
    serial::TSerCom port(sim.slavePath(), kBaud, 8000);
    port.Open();
    CountingSink sink;

    const auto before = bench::ThreadIds();
    protocol::RecvThread thread(&port, &sink);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int tid = -1;
    for (int id : bench::ThreadIds())
        if (!before.count(id)) tid = id;
    if (tid < 0) {
        state.SkipWithError("receive thread not found");
        return;
    }

    std::vector<std::uint8_t> frame;
    sim::AppendReplyFrame(frame, 'R', {0x20, 2, 0x34, 0x12});
    const std::size_t frames = static_cast<std::size_t>(kBaud / 10 * kSeconds) / frame.size();
    std::vector<std::uint8_t> stream;
    for (std::size_t i = 0; i < frames; ++i) stream.insert(stream.end(), frame.begin(), frame.end());

    for (auto _ : state) {
        const double cpu0 = bench::ThreadCpuSeconds(tid);
        const auto t0 = Clock::now();
        sim.inject(stream);
        const std::size_t decoded = sink.waitFor(frames);
        sink.reset();
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        state.counters["cpu_pct"] = 100.0 * (bench::ThreadCpuSeconds(tid) - cpu0) / wall;
        state.counters["frames_per_s"] = static_cast<double>(decoded) / wall;
        state.counters["lost_frames"] = static_cast<double>(frames - decoded);
    }
}
BENCHMARK(BM_ReceiveThreadCpuAt921600)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
