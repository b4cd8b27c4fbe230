// The download fixture: the receive thread's download job against the simulated boot-mode motor
// on a pseudo-terminal.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "largemotor/Download.h"
#include "largemotor/LargeMotorFixture.h"
#include "sim/BootModeMotor.h"
#include "support/HexText.h"
#include "support/TempDir.h"

namespace vindelor::largemotor::test {

using testing::Bytes;
using namespace std::chrono_literals;

inline Bytes Counting(std::size_t n, int step) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * step + 0x80);
    return b;
}

class Download : public testing::LargeMotorFixture<sim::BootModeMotor> {
protected:
    void SetUp() override {
        device = std::make_shared<sim::BootModeMotor>();
        firmwarePath = dir.write("motor.bin", Counting(1500, 3));
        open(device, [this](serial::TSerCom& p, protocol::MessageSink& window, bool loadFpga) {
            SinkNotifier boxes(window);
            result = DownloadFirmware(p, window, boxes, loadFpga, {[this] { return firmwarePath; }, [this] { return fpgaPath; }},
                                      [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });
            done = true;
        });
    }

    // Lets the motor ask and waits until the job has ended.
    bool run(bool loadFpga, std::chrono::seconds limit = 10s) {
        thread->LoadFpga = loadFpga;
        sim->inject(device->request());
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
        return done;
    }

    std::vector<std::string> boxes() {
        std::vector<std::string> texts;
        while (auto m = sink.take(protocol::MsgErrorBox, 0ms)) texts.push_back(m->text);
        return texts;
    }
    std::vector<std::int64_t> progress() {
        std::vector<std::int64_t> p;
        while (auto m = sink.take(protocol::MsgProgress, 0ms)) p.push_back(m->wParam);
        return p;
    }
    bool loaded() {
        return sink.take([](const auto& m) { return m.number == protocol::MsgReceivedByte && m.wParam == protocol::kLoadedMarker; },
                         0ms)
            .has_value();
    }
    // Everything the tool sent after the request.
    Bytes wire() { return sim->received(); }

    testing::TempDir dir;
    std::string firmwarePath;
    std::string fpgaPath;
    std::atomic<bool> done {false};
    DownloadResult result;
};

}  // namespace vindelor::largemotor::test
