// CPU of the receive thread while the device streams value replies back to back at 921600
// baud, the fastest rate the tool offers: the thread must keep up at a small part of a core.
//
//   build/bench/receive_stream_bench
//
// Counters: cpu_pct: CPU time of the receive thread alone (from /proc/self/task), in percent
// of one core over the streaming time; frames_per_s: value replies decoded per second.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "protocol/Messages.h"
#include "protocol/RecvThread.h"
#include "serial/TSerCom.h"
#include "sim/RegisterDevice.h"
#include "sim/SimPort.h"

namespace {

using namespace vindelor;
using Clock = std::chrono::steady_clock;

std::set<int> Tasks() {
    std::set<int> ids;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ids.insert(std::stoi(e->d_name));
        ::closedir(d);
    }
    return ids;
}

// User plus system time of one thread of this process, in seconds.
double TaskCpuSeconds(int tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Fields after the command name (which is in parentheses and may hold spaces).
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

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

    const auto before = Tasks();
    protocol::RecvThread thread(&port, &sink);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int tid = -1;
    for (int id : Tasks())
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
        const double cpu0 = TaskCpuSeconds(tid);
        const auto t0 = Clock::now();
        sim.inject(stream);
        const std::size_t decoded = sink.waitFor(frames);
        sink.reset();
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        state.counters["cpu_pct"] = 100.0 * (TaskCpuSeconds(tid) - cpu0) / wall;
        state.counters["frames_per_s"] = static_cast<double>(decoded) / wall;
        state.counters["lost_frames"] = static_cast<double>(frames - decoded);
    }
}
BENCHMARK(BM_ReceiveThreadCpuAt921600)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
