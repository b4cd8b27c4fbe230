#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/ByteText.h"
#include "protocol/QueueSink.h"
#include "protocol/RecvThread.h"
#include "protocol/Sender.h"
#include "serial/TSerCom.h"
#include "sim/RegisterDevice.h"
#include "sim/SimPort.h"

namespace vindelor::testing {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// A simulated register device on a pseudo-terminal, the tool's port opened on it, and a
// sender whose echo is collected, as the window has them.
class SimFixture : public ::testing::Test {
protected:
    void SetUp() override {
        device = std::make_shared<sim::RegisterDevice>();
        sim = std::make_unique<sim::SimPort>(device);
        port = std::make_unique<serial::TSerCom>(sim->slavePath(), 19200, 8000);
        port->Open();
        sender.setPort(port.get());
        sender.setAddressSource([this] { return address; });
        sender.setGroupSource([this] { return group; });
        sender.setEcho([this](std::string_view item) { sendEcho += item; });
    }

    void TearDown() override {
        thread.reset();
        port.reset();
        sim.reset();
    }

    void startThread(protocol::RecvThread::DownloadHook hook = {}) {
        thread = std::make_unique<protocol::RecvThread>(port.get(), &sink, std::move(hook));
    }

    // The received-byte echo posted so far, as the memo would show it (no 250-character cap),
    // with every other message left in the sink.
    std::string receivedEcho() {
        std::string text;
        while (auto m = sink.take(protocol::MsgReceivedByte, 0ms))
            text += m->wParam == protocol::kLoadedMarker ? std::string("<Loaded>")
                                                         : protocol::ByteText(static_cast<std::uint8_t>(m->wParam));
        return text;
    }

    static std::string Echo(const Bytes& bytes) {
        std::string text;
        for (auto b : bytes) text += protocol::ByteText(b);
        return text;
    }

    // Lets the receive thread go through whatever has arrived: the device's output is on the
    // line and the thread has had time to read it and give up on anything incomplete.
    void settle() {
        sim->waitOutputDrained(2000);
        std::this_thread::sleep_for(150ms);
    }

    int address = 255;
    int group = 1;
    std::shared_ptr<sim::RegisterDevice> device;
    std::unique_ptr<sim::SimPort> sim;
    std::unique_ptr<serial::TSerCom> port;
    protocol::Sender sender;
    std::string sendEcho;
    protocol::QueueSink sink;
    std::unique_ptr<protocol::RecvThread> thread;
};

// The simulated device for tests that run vindelor-cli, which opens the port itself.
class CliSimFixture : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        port.reset();
    }
    std::string portArg() const { return "--port " + sim->slavePath(); }
};

}  // namespace vindelor::testing
