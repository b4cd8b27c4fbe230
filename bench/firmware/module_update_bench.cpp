// A module firmware update of a 64 KiB image in loader mode 0 against the simulated bootloader
// on a pseudo-terminal paced at 57600 baud both ways, next to the protocol's own bound.
//
//   build/bench/module_update_bench
//
// Counters: update_s, the whole update from Start() to "Done"; bound_s, what the protocol
// itself needs: the wire time of every byte sent and received, 50 ms after each reply read,
// and the waits it prescribes (the reset request's 21 ms; from running firmware the quick
// try's 2 s ping time-out); over_pct, how far the update is above the bound.
//   in_bootloader: the module already waits for commands.
//   from_firmware: the module runs its firmware and is reset into the bootloader.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "firmware/ImageWriter.h"
#include "firmware/Tvxload.h"
#include "protocol/QueueSink.h"
#include "serial/TSerCom.h"
#include "sim/Bootloader.h"
#include "sim/SimPort.h"

namespace {

using namespace vindelor;
using Clock = std::chrono::steady_clock;

constexpr int kBaud = 57600;
constexpr std::size_t kImageSize = 64 * 1024;
constexpr std::size_t kBlock = 4096;
constexpr double kReplyPauseS = 0.050;
constexpr double kQuickTryTimeoutS = 2.0;
constexpr double kResetWaitS = 0.021;

void BM_ModuleUpdateMode0(benchmark::State& state) {
    const bool fromFirmware = state.range(0) != 0;
    firmware::ImageWriter image;
    image.AddHeader({0, 0, 0, "bench"});
    for (std::size_t at = 0; at < kImageSize; at += kBlock) {
        std::vector<std::uint8_t> data(kBlock);
        for (std::size_t k = 0; k < kBlock; ++k) data[k] = static_cast<std::uint8_t>((at + k) * 7);
        image.AddFlash(static_cast<std::uint32_t>(at), firmware::WithBlockCheck(data));
    }
    for (auto _ : state) {
        auto config = sim::Bootloader::ForMode(0);
        config.startInBootloader = !fromFirmware;
        auto device = std::make_shared<sim::Bootloader>(config);
        sim::SimPort sim(device);
        sim.setBaudRate(kBaud);
        sim.setPaceInput(true);
        serial::TSerCom port(sim.slavePath(), 19200, 8000);
        port.Open();
        protocol::QueueSink sink;
        firmware::TVxLoad loader(&sink, &port);
        loader.ReadImageData(image.Bytes());
        loader.ResetWanted = true;

        const auto start = Clock::now();
        loader.Start();
        int end = -1;
        while (end != firmware::kStatusDone && end != firmware::kStatusFailed) {
            auto m = sink.take(protocol::MsgLoaderState, std::chrono::seconds(120));
            if (!m) break;
            end = static_cast<int>(m->wParam);
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (end != firmware::kStatusDone) {
            state.SkipWithError("the update did not end with Done");
            return;
        }
        sim.waitReceived(sim.received().size(), 0);
        const double byteS = 10.0 / kBaud;
        const double wire = static_cast<double>(sim.received().size() + device->bytesSent()) * byteS;
        double bound = wire + device->framesSent() * kReplyPauseS;
        if (fromFirmware) bound += kQuickTryTimeoutS + kResetWaitS;
        state.SetIterationTime(seconds);
        state.counters["update_s"] = seconds;
        state.counters["bound_s"] = bound;
        state.counters["over_pct"] = (seconds / bound - 1.0) * 100.0;
        state.counters["bytes_to_module"] = static_cast<double>(sim.received().size());
        state.counters["bytes_from_module"] = static_cast<double>(device->bytesSent());
        state.counters["replies"] = device->framesSent();
        state.counters["failed_attempts"] = static_cast<double>(loader.ErrorLog().size());
    }
}
BENCHMARK(BM_ModuleUpdateMode0)->ArgName("from_firmware")->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
