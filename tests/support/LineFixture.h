#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "protocol/RegisterLink.h"
#include "registers/Definitions.h"
#include "serial/TSerCom.h"
#include "sim/DeviceSetup.h"
#include "sim/RegisterBus.h"
#include "sim/SimPort.h"

namespace vindelor::testing {

// Simulated motors on one RS-485 line behind a pseudo-terminal, the tool's port opened on it
// and a register link over that port, as a scan or a restore borrows it.
class LineFixture : public ::testing::Test {
  protected:
    static std::string Shipped() { return std::string(VINDELOR_SOURCE_DIR) + "/defs"; }

    // A motor of the type at the address, set up as vindelor-sim sets it up.
    std::shared_ptr<sim::RegisterDevice> addMotor(int address, int type = registers::VX20_95,
                                                  int replyDelayMs = 0, int group = 1) {
        auto device = std::make_shared<sim::RegisterDevice>();
        device->setAddress(address);
        device->setGroup(group);
        EXPECT_EQ(sim::ConfigureAsMotor(*device, type, Shipped()), "");
        line->add(device, replyDelayMs);
        return device;
    }

    // Opens the port at the baud rate (a pseudo-terminal takes any) on the line as it is.
    void open(int baud = 115200) {
        sim = std::make_unique<sim::SimPort>(line);
        port = std::make_unique<serial::TSerCom>(sim->slavePath(), baud, 8000);
        port->Open();
        link = std::make_unique<protocol::RegisterLink>(*port);
    }

    void TearDown() override {
        link.reset();
        port.reset();
        sim.reset();
    }

    // The read requests the line carried, by destination, in order.
    std::vector<int> readDestinations() const {
        std::vector<int> out;
        const auto bytes = sim->received();
        for (std::size_t i = 0; i + 9 <= bytes.size(); ++i)
            if (bytes[i] == 'P' && bytes[i + 1] == 'P' && bytes[i + 2] == 'P' &&
                bytes[i + 8] == 0xAA) {
                out.push_back(bytes[i + 3]);
                i += 8;
            }
        return out;
    }

    std::shared_ptr<sim::RegisterBus> line = std::make_shared<sim::RegisterBus>();
    std::unique_ptr<sim::SimPort> sim;
    std::unique_ptr<serial::TSerCom> port;
    std::unique_ptr<protocol::RegisterLink> link;
};

}  // namespace vindelor::testing
