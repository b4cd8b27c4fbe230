#pragma once

#include <gtest/gtest.h>

#include <functional>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "firmware/Crc.h"
#include "firmware/ImageWriter.h"
#include "firmware/Tvxload.h"
#include "protocol/QueueSink.h"
#include "serial/TSerCom.h"
#include "sim/Bootloader.h"
#include "sim/SimPort.h"

namespace vindelor::testing {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// A loader status as posted: code and argument.
struct Status {
    int code;
    std::int64_t argument;
    bool operator==(const Status&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Status& s) {
    return os << "{" << s.code << "," << s.argument << "}";
}

// A bootloader command frame as the loader sends it.
inline Bytes CommandFrame(int c, const Bytes& data = {}) {
    // Sized first: GCC 12 at -O3 reports a false -Warray-bounds for an insert into the
    // two-byte vector.
    Bytes f(2 + data.size());
    f[0] = static_cast<std::uint8_t>(0xA0 + c);
    f[1] = static_cast<std::uint8_t>(data.size());
    std::copy(data.begin(), data.end(), f.begin() + 2);
    unsigned sum = 0;
    for (auto b : f) sum += b;
    f.push_back(static_cast<std::uint8_t>(-static_cast<int>(sum & 0xFFu)));
    return f;
}

// n bytes counting from `first`.
inline Bytes Counting(std::size_t n, std::uint8_t first = 0) {
    Bytes b(n);
    for (std::size_t k = 0; k < n; ++k) b[k] = static_cast<std::uint8_t>(first + k);
    return b;
}

// A module's bootloader on a pseudo-terminal and the loader on the tool's end of it.
class LoaderFixture : public ::testing::Test {
protected:
    void TearDown() override {
        loader.reset();
        port.reset();
        sim.reset();
    }

    // Starts the device (default: a bootloader already waiting for commands, so no reset
    // round is needed) and the loader on the image, as the window starts an update.
    void Start(const Bytes& image, sim::Bootloader::Config config) {
        device = std::make_shared<sim::Bootloader>(config);
        sim = std::make_unique<sim::SimPort>(onLine ? onLine(device) : device);
        if (lineRate > 0) {
            sim->setBaudRate(lineRate);
            sim->setPaceInput(true);
        }
        port = std::make_unique<serial::TSerCom>(sim->slavePath(), 19200, 8000);
        port->Open();
        loader = std::make_unique<firmware::TVxLoad>(&sink, port.get());
        loader->SetAttemptFailedHook([this](const std::string& text) { failures.push_back(text); });
        loader->ReadImageData(image);
        loader->ResetWanted = resetWanted;
        loader->Start();
    }

    static sim::Bootloader::Config Waiting(int mode, std::uint8_t hardware = 0) {
        auto c = sim::Bootloader::ForMode(mode, hardware);
        c.startInBootloader = true;
        return c;
    }

    // The statuses posted until the run ends (Done, Failed! or Aborted!) or the time is up.
    std::vector<Status> RunToEnd(std::chrono::milliseconds limit = 20s) {
        std::vector<Status> seen;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                ADD_FAILURE() << "the loader did not end in time";
                return seen;
            }
            auto m = sink.take(protocol::MsgLoaderState, left);
            if (!m) continue;
            // The engineer at hand turns the module off and on once each time the loader asks.
            if (engineerAtHand && m->wParam == firmware::kStatusConnecting &&
                (seen.empty() || seen.back().code != firmware::kStatusConnecting))
                device->powerCycle();
            seen.push_back({static_cast<int>(m->wParam), m->lParam});
            if (m->wParam == firmware::kStatusDone || m->wParam == firmware::kStatusFailed ||
                m->wParam == firmware::kStatusAborted)
                return seen;
        }
    }

    // Waits until the device has taken the end command (it may still be reading when the
    // loader reports "Done").
    bool DeviceEnded(std::chrono::milliseconds limit = 2s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!device->ended()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    // Flash records as modes 0, 1 and 3 send them: the data and its own check.
    static Bytes Checked(const Bytes& data) { return firmware::WithBlockCheck(data); }

    std::shared_ptr<sim::Bootloader> device;
    std::unique_ptr<sim::SimPort> sim;
    std::unique_ptr<serial::TSerCom> port;
    protocol::QueueSink sink;
    std::unique_ptr<firmware::TVxLoad> loader;
    std::vector<std::string> failures;
    // With a rate, the simulated line carries bytes both ways at the rates each end is set to
    // (the device's own rate while it has one), as a real line does; 0: as fast as it can.
    int lineRate = 0;
    // What the line holds besides the device, given the device (another module on it, say).
    std::function<std::shared_ptr<sim::DeviceModel>(std::shared_ptr<sim::Bootloader>)> onLine;
    // Whether the loader starts with a reset request, as the window and the CLI start it.
    bool resetWanted = true;
    // Whether RunToEnd turns the module off and on when the loader asks for it.
    bool engineerAtHand = false;
};

inline firmware::ImageWriter ImageFor(int mode, std::uint16_t hardware = 0,
                                      const std::string& description = "test image") {
    firmware::ImageWriter w;
    w.AddHeader({static_cast<std::uint16_t>(mode), hardware, 0x1234, description});
    return w;
}

}  // namespace vindelor::testing
