// vindelor-sim: a simulated device on a pseudo-terminal, for trying the tool without hardware.
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>

#include <poll.h>
#include <unistd.h>

#include "serial/PortNames.h"
#include "registers/Definitions.h"
#include "sim/BootModeMotor.h"
#include "sim/Bootloader.h"
#include "sim/DeviceDump.h"
#include "sim/DeviceSetup.h"
#include "sim/FlashBootloader.h"
#include "sim/Xc164Bootstrap.h"
#include "sim/RegisterDevice.h"
#include "sim/SimPort.h"
#include "sim/Pty.h"
#include "util/Licence.h"

namespace {
volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_faultsOff = 0;
void OnSignal(int) { g_stop = 1; }
// SIGUSR2: the line behaves from now on, so a test can check what a faulty run left behind.
void OnFaultsOff(int) { g_faultsOff = 1; }
volatile std::sig_atomic_t g_powerCycle = 0;
void OnPowerCycle(int) { g_powerCycle = 1; }
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
    std::string model = "register";
    bool leadingZero = false;
    int silentAfterReads = -1;
    std::uint32_t sumOffset = 0;
    int startAnswer = 0;
    app.add_option("--address", address, "Device address (0-255)")->capture_default_str();
    app.add_option("--group", group, "Group number for group writes")->capture_default_str();
    app.add_option("--baud", baud, "Emulate the line rate of this baud rate (0: as fast as possible)");
    app.add_option("--link", link, "Also create the link comN in the port folder for this port number");
    app.add_option("--port-dir", folder, "Port folder for --link (default: $VINDELOR_PORT_DIR, else ~/.config/Kyvane/ports)");
    app.add_option("--type", type, "Device type: VX20-95, VX300/700, KT42 or KT56")->capture_default_str();
    std::string devices;
    app.add_option("--devices", devices,
                   "Several motors on one RS-485 line instead of one: ADDRESS:TYPE,... (for example "
                   "3:VX20-95,17:KT42,200:VX300/700); each answers its own address and 255, all take "
                   "the group writes of --group");
    app.add_option("--defs", defs, "Folder of the register definition files (default: the shipped ones)");
    app.set_version_flag("--version", std::string("vindelor-sim ") + VINDELOR_VERSION + "\n" +
                                          vindelor::util::kCopyrightLine + "\n" + vindelor::util::kLicenceLines);
    app.add_option("--model", model,
                   "register: a motor or module on the register protocol; flash: the large motor's "
                   "flash bootloader; xc164: the XC164 bootstrap loader in front of it; boot-motor: "
                   "a large motor in boot mode that asks for its firmware every second")
        ->capture_default_str()
        ->check(CLI::IsMember({"register", "flash", "xc164", "boot-motor"}));
    app.add_flag("--leading-zero", leadingZero, "xc164: answer 0x00 before the identification");
    app.add_option("--silent-after-reads", silentAfterReads, "flash, xc164: answer no read command after this many");
    int flashRate = 19200;
    app.add_option("--flash-rate", flashRate,
                   "flash: the rate the bootloader listens at first (19200, or 57600 as after "
                   "\"Set 57600 Baud\")")
        ->capture_default_str()
        ->check(CLI::IsMember({19200, 57600}));
    vindelor::sim::FlashBootloader::FlashTimes flashTimes;
    app.add_option("--flash-erase-ms", flashTimes.eraseMs,
                   "flash, xc164: time the boot monitor's erase ('F') takes")
        ->capture_default_str();
    app.add_option("--sum-offset", sumOffset, "boot-motor: report a firmware sum off by this much");
    app.add_option("--start-answer", startAnswer, "boot-motor: the answer to the FPGA start (-1: none)")
        ->capture_default_str();
    int bootloader = -1;
    int hardware = 0;
    int revision = 10;
    int eraseMs = vindelor::sim::Bootloader::kDefaultEraseMs;
    bool waiting = false;
    app.add_option("--bootloader", bootloader,
                   "Simulate a module for firmware updates in this loader mode (0-3) instead of a motor")
        ->check(CLI::Range(0, 3));
    app.add_option("--hardware", hardware, "Module: hardware code the bootloader reports")->capture_default_str();
    app.add_option("--revision", revision, "Module: hardware revision the bootloader reports")->capture_default_str();
    app.add_option("--erase-ms", eraseMs, "Module, modes 2 and 3: time a block erase takes")->capture_default_str();
    app.add_flag("--in-bootloader", waiting, "Module: start in the bootloader, waiting for commands");
    int replyDelayMs = 0;
    app.add_option("--reply-delay-ms", replyDelayMs, "Every reply leaves this many milliseconds late")
        ->check(CLI::NonNegativeNumber);
    std::string faultText;
    std::uint64_t seed = 1;
    app.add_option("--faults", faultText,
                   "A line that misbehaves: drop=P,flip=P,cut=P,delay=MS@P,noise=P,unplug=SECONDS (P from 0 to 1; "
                   "drop and flip hit both directions, the others what the device sends; unplug hangs the port "
                   "up after SECONDS and brings it back a second later as a new device behind --link); "
                   "replies that are not the answer: dup=P (a byte twice), double=P (the reply again 0-15 ms "
                   "later), twin=P (a second device at the address answers with other data, 1-15 ms apart), "
                   "other=P (the previous reply of the same length instead), stale=P (the reply waits for the "
                   "tool's next byte), garbage=P (random bytes after it), split=P (a pause of 80-120 ms inside "
                   "it); SIGUSR2 turns them off");
    app.add_option("--seed", seed, "Seed of the faults, to replay a run")->capture_default_str();
    std::string dumpPath;
    app.add_option("--dump", dumpPath,
                   "On exit, write what the device was given to keep (a module's flash blocks, the flash "
                   "file, a download) to FILE as text, to compare with what a tool claims to have written");
    CLI11_PARSE(app, argc, argv);
    vindelor::sim::FaultSettings faults;
    if (!faultText.empty()) {
        std::string error;
        const auto parsed = vindelor::sim::ParseFaults(faultText, error);
        if (!parsed) {
            std::cerr << "vindelor-sim: --faults: " << error << std::endl;
            return 2;
        }
        faults = *parsed;
    }
    faults.seed = seed;
    const auto deviceType = vindelor::registers::DeviceTypeFromName(type);
    if (!deviceType) {
        std::cerr << "vindelor-sim: unknown device type " << type << std::endl;
        return 2;
    }

    try {
        using namespace vindelor::sim;
        std::shared_ptr<DeviceModel> device;
        std::shared_ptr<BootModeMotor> motor;
        std::shared_ptr<Bootloader> module;  // turned off and on by SIGUSR1
        std::shared_ptr<FlashBootloader> flashMemory;
        if (bootloader >= 0) {
            auto config = Bootloader::ForMode(bootloader, static_cast<std::uint8_t>(hardware));
            config.revision = static_cast<std::int8_t>(revision);
            config.eraseTimeMs = eraseMs;
            config.startInBootloader = waiting;
            module = std::make_shared<Bootloader>(config);
            device = module;
        } else if (!devices.empty()) {
            std::string error;
            const auto members = ParseDeviceList(devices, error);
            if (members) device = MakeMotorLine(*members, group, defs, error);
            if (!device) {
                std::cerr << "vindelor-sim: --devices: " << error << std::endl;
                return 2;
            }
        } else if (model == "register") {
            auto registers = std::make_shared<RegisterDevice>();
            registers->setAddress(address);
            registers->setGroup(group);
            registers->setDemoText(true);  // the module's text poll prints a line now and then
            if (auto error = ConfigureAsMotor(*registers, *deviceType, defs); !error.empty())
                std::cerr << "vindelor-sim: " << error << "; registers are one word wide" << std::endl;
            device = registers;
        } else if (model == "flash" || model == "xc164") {
            auto flash = std::make_shared<FlashBootloader>();
            flashMemory = flash;
            flash->setSilentAfterReads(silentAfterReads);
            flash->setTimes(flashTimes);
            if (model == "flash") {
                flash->setLineRate(flashRate);
                device = flash;
            } else {
                auto bootstrap = std::make_shared<Xc164Bootstrap>(flash);
                bootstrap->setLeadingZero(leadingZero);
                device = bootstrap;
            }
        } else {
            motor = std::make_shared<BootModeMotor>();
            motor->setSumOffset(sumOffset);
            motor->setStartAnswer(startAnswer);
            device = motor;
        }
        std::unique_ptr<SimPort> port;
        std::string linkPath;
        int plugged = 0;
        // A new pseudo-terminal for the device: at the start, and each time the faults have
        // pulled the adapter out (the same device plugged in again, found through its link).
        const auto plugIn = [&] {
            port.reset();
            port = std::make_unique<SimPort>(device);
            port->setBaudRate(baud);
            port->setPaceInput(bootloader >= 0 && baud > 0);
            port->setResponseDelayMs(replyDelayMs);
            if (g_faultsOff) faults = FaultSettings {};
            FaultSettings these = faults;
            these.seed = faults.seed + static_cast<std::uint64_t>(plugged++);
            port->setFaults(these);
            std::cout << port->slavePath() << std::endl;
            if (link > 0) {
                linkPath = LinkPort(folder, link, port->slavePath());
                std::cout << "COM" << link << " -> " << linkPath << std::endl;
            }
        };
        // The signals are let through only while the main thread waits (the port's thread,
        // started after this, inherits the mask), so none comes between a check and the
        // wait and leaves it asleep. SIGUSR1 turns a simulated module off and on, as an
        // engineer asked to do so would.
        sigset_t handled, waitMask;
        sigemptyset(&handled);
        for (const int s : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2}) sigaddset(&handled, s);
        sigprocmask(SIG_BLOCK, &handled, &waitMask);
        std::signal(SIGINT, OnSignal);
        std::signal(SIGTERM, OnSignal);
        if (module) std::signal(SIGUSR1, OnPowerCycle);
        std::signal(SIGUSR2, OnFaultsOff);
        plugIn();
        if (faults.any()) std::cerr << "vindelor-sim: faults " << FaultText(faults) << std::endl;
        while (!g_stop) {
            if (g_powerCycle) {
                g_powerCycle = 0;
                module->powerCycle();
                std::cerr << "vindelor-sim: module turned off and on" << std::endl;
            }
            if (g_faultsOff && faults.any()) {
                faults = FaultSettings {};
                port->setFaults(faults);
                std::cerr << "vindelor-sim: faults off" << std::endl;
            }
            if (port->hungUp()) {
                sleep(1);
                plugIn();
                continue;
            }
            if (!motor && faults.unplugSeconds <= 0) {
                sigsuspend(&waitMask);
                continue;
            }
            // A motor in boot mode asks every second until a download has run through.
            if (motor && motor->shouldAsk()) port->inject(motor->request());
            // A hang-up by the faults is noticed within the wait.
            const timespec wait {motor ? 1 : 0, motor ? 0 : 100'000'000};
            ppoll(nullptr, 0, &wait, &waitMask);
        }
        if (!linkPath.empty()) std::remove(linkPath.c_str());
        port.reset();
        if (!dumpPath.empty()) {
            std::ofstream dump(dumpPath, std::ios::binary | std::ios::trunc);
            dump << DeviceMemoryText(module.get(), flashMemory.get(), motor.get());
            if (!dump.flush()) {
                std::cerr << "vindelor-sim: cannot write " << dumpPath << std::endl;
                return 1;
            }
        }
    } catch (const std::exception& e) {
        std::cerr << "vindelor-sim: " << e.what() << std::endl;
        return 1;
    }
    return 0;
}
