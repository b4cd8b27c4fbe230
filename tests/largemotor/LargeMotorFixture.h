#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "largemotor/FlashTools.h"
#include "protocol/QueueSink.h"
#include "protocol/RecvThread.h"
#include "serial/TSerCom.h"
#include "sim/DeviceModel.h"
#include "sim/RegisterDevice.h"
#include "sim/SimPort.h"

namespace vindelor::testing {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// A simulated large-motor device on a pseudo-terminal, the tool's port on it at 19200 baud with
// its receive thread, and a clock for the tools that records every pause asked for. It sleeps
// kMaxRealPauseMs for the long ones (long enough for the device to take what was sent) and not
// at all for the pacing pauses of a few milliseconds, which the simulator does not need.
template <class Model>
class LargeMotorFixture : public ::testing::Test {
protected:
    static constexpr int kMaxRealPauseMs = 20;

    void open(std::shared_ptr<sim::DeviceModel> model, protocol::RecvThread::DownloadHook hook = {}) {
        sim = std::make_unique<sim::SimPort>(std::move(model));
        port = std::make_unique<serial::TSerCom>(sim->slavePath(), 19200, 8000);
        port->Open();
        thread = std::make_unique<protocol::RecvThread>(port.get(), &sink, std::move(hook));
    }

    void TearDown() override {
        thread.reset();
        port.reset();
        sim.reset();
    }

    largemotor::ToolContext context() {
        return {*port, thread.get(), &sink,
                [this](int ms) {
                    {
                        std::lock_guard lock(pausesMutex);
                        pauses.push_back(ms);
                    }
                    if (ms >= kMaxRealPauseMs)
                        std::this_thread::sleep_for(std::chrono::milliseconds(kMaxRealPauseMs));
                },
                &cancel};
    }

    std::vector<int> pausesAsked() {
        std::lock_guard lock(pausesMutex);
        return pauses;
    }

    // The receive thread is back at work: a register reply the device sends is decoded.
    bool listening() {
        std::vector<std::uint8_t> reply;
        sim::AppendReplyFrame(reply, 'R', {7, 2, 0x34, 0x12});
        sim->inject(reply);
        const auto m = sink.take(protocol::MsgRegisterValue, 2000ms);
        return m && m->wParam == 7 && m->lParam == 0x1234;
    }

    std::shared_ptr<Model> device;
    std::unique_ptr<sim::SimPort> sim;
    std::unique_ptr<serial::TSerCom> port;
    protocol::QueueSink sink;
    std::unique_ptr<protocol::RecvThread> thread;
    std::atomic<bool> cancel {false};
    std::mutex pausesMutex;
    std::vector<int> pauses;
};

}  // namespace vindelor::testing
