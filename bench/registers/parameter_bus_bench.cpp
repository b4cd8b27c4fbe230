// The bus scan and the save of a parameter set against simulated motors on one line, the
// simulator paced at the baud rate in both directions (the request takes its line time before
// a device sees it, the reply its own before the tool does).
//
//   build/bench/bench/parameter_bus_bench
//
// BM_ScanBus: addresses 0-254 at 115200 with three motors present. Counters: found (goal 3)
// and seconds (goal under 2).
// BM_SaveParameterSet: every register of a VX20-95 read as "params save" reads them.
// Counters: wire_ms, the line time of every request and reply, 10 bits a byte; pct_of_wire,
// the save's time against it (goal: at most 120).
// BM_OneReadAlone: one register read as a one-shot `read` makes it, against the plain read it
// is made of. Counters: plain_ms and alone_ms, the medians; added_ms, what making sure that
// the answer came alone costs (goal: under 5 at 115200).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>
#include <memory>

#include "protocol/RegisterLink.h"
#include "registers/BusScan.h"
#include "registers/ParameterDevice.h"
#include "serial/TSerCom.h"
#include "sim/DeviceSetup.h"
#include "sim/RegisterBus.h"
#include "sim/SimPort.h"

namespace {

using namespace vindelor;
using Clock = std::chrono::steady_clock;

constexpr int kBaud = 115200;
constexpr int kFirmware = 20;  // a VX20-95's FIRMWARE register

struct PacedLine {
    explicit PacedLine(const std::vector<sim::LineMember>& members) {
        std::string error;
        line = sim::MakeMotorLine(members, 1, sim::DefaultDefinitionsFolder(), error);
        if (!line) throw std::runtime_error(error);
        sim = std::make_unique<sim::SimPort>(line);
        sim->setBaudRate(kBaud);
        sim->setPaceInput(true);
        port = std::make_unique<serial::TSerCom>(sim->slavePath(), kBaud, 8000);
        port->Open();
        link = std::make_unique<protocol::RegisterLink>(*port);
    }
    std::shared_ptr<sim::RegisterBus> line;
    std::unique_ptr<sim::SimPort> sim;
    std::unique_ptr<serial::TSerCom> port;
    std::unique_ptr<protocol::RegisterLink> link;
};

void BM_ScanBus(benchmark::State& state) {
    PacedLine l({{3, registers::VX20_95}, {17, registers::KT42}, {200, registers::VX300_700}});
    registers::ScanOptions o;
    o.registerNumber = kFirmware;
    double seconds = 0;
    std::size_t found = 0;
    int late = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const auto outcome = registers::ScanBus(*l.link, o);
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        found = outcome.found.size();
        late += outcome.lateReplies;
    }
    state.counters["seconds"] = seconds;
    state.counters["found"] = static_cast<double>(found);
    state.counters["late_replies"] = late;
}
BENCHMARK(BM_ScanBus)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_SaveParameterSet(benchmark::State& state) {
    PacedLine l({{3, registers::VX20_95}});
    registers::ParameterDefinitions pd;
    std::string error;
    if (!registers::LoadParameterDefinitions(registers::VX20_95, false,
                                             {sim::DefaultDefinitionsFolder()}, pd, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    registers::ParameterJob job;
    job.address = 3;
    // The line time of every request and reply the save sends and takes.
    int bytes = 0;
    for (int i = 0; i < pd.defs.registerCount; ++i) {
        const auto& def = pd.defs.registerTable[static_cast<std::size_t>(i)];
        if (def.type == 0 || def.number < 0) continue;
        bytes += protocol::RegisterLink::kReadRequestBytes +
                 protocol::RegisterLink::ReadReplyBytes(def.words);
    }
    const double wireMs =
        std::chrono::duration<double, std::milli>(l.link->lineTime(bytes)).count();
    double ms = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const auto set =
            registers::ReadParameterSet(*l.link, job, pd.defs, registers::VX20_95, "bench");
        ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        benchmark::DoNotOptimize(set.entries.size());
    }
    state.counters["save_ms"] = ms;
    state.counters["wire_ms"] = wireMs;
    state.counters["pct_of_wire"] = 100.0 * ms / wireMs;
}
BENCHMARK(BM_SaveParameterSet)->Iterations(20)->Unit(benchmark::kMillisecond);

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void BM_OneReadAlone(benchmark::State& state) {
    PacedLine l({{3, registers::VX20_95}});
    const auto timeout = std::chrono::milliseconds(1000);
    std::vector<double> plain, alone;
    for (auto _ : state) {
        auto start = Clock::now();
        l.link->discardInput();
        if (!l.link->read(3, kFirmware, timeout)) state.SkipWithError("no answer");
        plain.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        start = Clock::now();
        if (!l.link->readAlone(3, kFirmware, timeout, 1).reply) state.SkipWithError("no answer alone");
        alone.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    state.counters["plain_ms"] = Median(plain);
    state.counters["alone_ms"] = Median(alone);
    state.counters["added_ms"] = Median(alone) - Median(plain);
}
BENCHMARK(BM_OneReadAlone)->Iterations(200)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
