// vindelor-sim: a simulated device on a pseudo-terminal, for trying the tool without hardware.
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>

#include <unistd.h>

#include "serial/PortNames.h"
#include "registers/Definitions.h"
#include "sim/DeviceSetup.h"
#include "sim/RegisterDevice.h"
#include "sim/SimPort.h"
#include "sim/Pty.h"

namespace {
volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }
}  // namespace

int main(int argc, char** argv) {
    CLI::App app {"Simulated Vindelor device on a pseudo-terminal. Prints the device path to open."};
    int address = 255;
    int group = 1;
    int baud = 0;
    int link = 0;
    std::string folder = vindelor::serial::PortFolder();
    std::string type = "VX20-95";
    std::string defs = vindelor::sim::DefaultDefinitionsFolder();
    app.add_option("--address", address, "Device address (0-255)")->capture_default_str();
    app.add_option("--group", group, "Group number for group writes")->capture_default_str();
    app.add_option("--baud", baud, "Emulate the line rate of this baud rate (0: as fast as possible)");
    app.add_option("--link", link, "Also create the link comN in the port folder for this port number");
    app.add_option("--port-dir", folder, "Port folder for --link")->capture_default_str();
    app.add_option("--type", type, "Device type: VX20-95, VX300/700, KT42 or KT56")->capture_default_str();
    app.add_option("--defs", defs, "Folder of the register definition files")->capture_default_str();
    CLI11_PARSE(app, argc, argv);
    const auto deviceType = vindelor::registers::DeviceTypeFromName(type);
    if (!deviceType) {
        std::cerr << "vindelor-sim: unknown device type " << type << std::endl;
        return 2;
    }

    try {
        auto device = std::make_shared<vindelor::sim::RegisterDevice>();
        device->setAddress(address);
        device->setGroup(group);
        device->setDemoText(true);  // the module's text poll prints a line now and then
        if (auto error = vindelor::sim::ConfigureAsMotor(*device, *deviceType, defs); !error.empty())
            std::cerr << "vindelor-sim: " << error << "; registers are one word wide" << std::endl;
        vindelor::sim::SimPort port(device);
        port.setBaudRate(baud);
        std::cout << port.slavePath() << std::endl;
        std::string linkPath;
        if (link > 0) {
            linkPath = vindelor::sim::LinkPort(folder, link, port.slavePath());
            std::cout << "COM" << link << " -> " << linkPath << std::endl;
        }
        std::signal(SIGINT, OnSignal);
        std::signal(SIGTERM, OnSignal);
        while (!g_stop) pause();
        if (!linkPath.empty()) std::remove(linkPath.c_str());
    } catch (const std::exception& e) {
        std::cerr << "vindelor-sim: " << e.what() << std::endl;
        return 1;
    }
    return 0;
}
