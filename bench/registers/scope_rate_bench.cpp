// Scope sample rate: sample requests back to back (the next one as soon as the reply is in), as
// the scope tab and `vindelor-cli scope` send them, against the simulated motor whose replies
// take the wire time of the baud rate.
//
//   build/bench/scope_rate_bench
//
// The second argument arms a trigger: each row then goes through the trigger as the rows
// arrive (a level never reached, so it stays armed and keeps its history of 10 s), instead of
// being kept.
//
// Counters: rows_per_s achieved; bound_rows_per_s, the rate if nothing but the wire time of one
// request (7 bytes) and one reply (25 bytes, four 16-bit samples) counted, 10 bits a byte;
// pct_of_bound. The simulated line carries both directions at the baud rate: the request as
// well as the reply takes its wire time.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "protocol/QueueSink.h"
#include "protocol/RecvThread.h"
#include "protocol/Sender.h"
#include "registers/Scope.h"
#include "registers/ScopeTrigger.h"
#include "serial/TSerCom.h"
#include "sim/RegisterDevice.h"
#include "sim/SimPort.h"

namespace {

using namespace vindelor;
using Clock = std::chrono::steady_clock;

constexpr int kRequestBytes = 7;
constexpr int kReplyBytes = 3 + 2 + 2 + 2 * 8 + 2;
constexpr int kBitsPerByte = 10;

void BM_ScopeSampleRate(benchmark::State& state) {
    const int baud = static_cast<int>(state.range(0));
    const bool armed = state.range(1) != 0;
    constexpr double kNeverReached = 1e12;
    constexpr double kHistorySeconds = 10;
    registers::TriggerSetup setup;
    setup.level = kNeverReached;
    setup.preSeconds = 1;
    registers::ScopeTrigger trigger(setup, kHistorySeconds);
    auto device = std::make_shared<sim::RegisterDevice>();
    sim::SimPort sim(device);
    sim.setBaudRate(baud);
    sim.setPaceInput(true);
    serial::TSerCom port(sim.slavePath(), baud, 8000);
    port.Open();
    protocol::Sender sender;
    sender.setPort(&port);
    sender.setAddressSource([] { return 255; });
    protocol::QueueSink sink;
    protocol::RecvThread thread(&port, &sink);

    registers::ScopeRecording rec;
    rec.channels = {registers::ScopeChannel{"A", 1}, {"B", 2}, {"C", 1}, {"D", 2}};
    registers::SampleLoop loop;
    const auto start = Clock::now();
    for (auto _ : state) {
        // One row: the request goes when due, the reply (or the time-out) ends the wait.
        for (;;) {
            const auto now = Clock::now();
            if (loop.due(now)) {
                sender.SendCommand(protocol::Cmd::Sample);
                loop.sent(now);
            }
            auto m = sink.take(protocol::MsgSampleRow, loop.untilDue(Clock::now()));
            if (!m) continue;
            loop.replied(Clock::now());
            const double t = std::chrono::duration<double>(Clock::now() - start).count();
            if (armed)
                trigger.add(rec.makeRow(t, m->payload));
            else
                rec.addRow(t, m->payload);
            break;
        }
        sink.clear();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double rate = static_cast<double>(loop.replies) / seconds;
    const double bound = static_cast<double>(baud) / (kBitsPerByte * (kRequestBytes + kReplyBytes));
    state.counters["rows_per_s"] = rate;
    state.counters["bound_rows_per_s"] = bound;
    state.counters["pct_of_bound"] = 100.0 * rate / bound;
    state.counters["timeouts"] = static_cast<double>(loop.timeouts);
}
BENCHMARK(BM_ScopeSampleRate)
    ->ArgNames({"baud", "trigger"})
    ->Args({115200, 0})
    ->Args({115200, 1})
    ->Iterations(1000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScopeSampleRate)
    ->ArgNames({"baud", "trigger"})
    ->Args({19200, 0})
    ->Args({19200, 1})
    ->Iterations(300)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
