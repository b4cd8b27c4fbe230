// Register access from the command line: read, write, group write, commands, monitor, ports.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <thread>

#include "cli/Cli.h"
#include "cli/Session.h"
#include "protocol/ByteText.h"
#include "serial/PortNames.h"

namespace vindelor::cli {

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kReplyTimeoutMs = 1000;
// The register list reads a register back this long after writing it.
constexpr int kReadBackDelayMs = 100;

std::atomic<bool> g_interrupted {false};
void OnInterrupt(int) { g_interrupted = true; }

struct RegisterArgs {
    std::string reg;
    std::string value;
    int words = 1;
    int repeat = 0;
    int sequence = 0;
};

std::uint8_t RegisterNumber(const std::string& text) {
    const long long n = ParseNumber(text, "the register");
    if (n < 0 || n > 255) throw CommandError {kExitUsage, "Register numbers run from 0 to 255: " + text};
    return static_cast<std::uint8_t>(n);
}

std::uint32_t Value32(const std::string& text) {
    const long long v = ParseNumber(text, "the value");
    if (v < INT32_MIN || v > UINT32_MAX)
        throw CommandError {kExitUsage, "The value does not fit in 32 bits: " + text};
    return static_cast<std::uint32_t>(v);
}

std::uint32_t Masked(std::uint32_t v, int words) { return words == 1 ? (v & 0xFFFFu) : v; }

void ReadCommand(CommandContext& ctx, const RegisterArgs& a) {
    const std::uint8_t reg = RegisterNumber(a.reg);
    Session s(ctx.options);
    const int count = std::max(1, a.repeat);
    std::vector<double> trips;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        s.sender().SendReadRequest(reg);
        s.flushSendEcho();
        auto v = s.awaitRegister(reg, kReplyTimeoutMs);
        if (!v) throw CommandError {kExitDevice, "No answer from the device for register " + std::to_string(reg)};
        trips.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        std::cout << Masked(*v, a.words) << std::endl;
    }
    if (a.repeat > 0) {
        std::sort(trips.begin(), trips.end());
        const double median = trips.size() % 2 ? trips[trips.size() / 2]
                                               : (trips[trips.size() / 2 - 1] + trips[trips.size() / 2]) / 2;
        std::printf("round trip ms: min %.3f median %.3f max %.3f\n", trips.front(), median, trips.back());
    }
}

void WriteCommand(CommandContext& ctx, const RegisterArgs& a, bool group) {
    const std::uint8_t reg = RegisterNumber(a.reg);
    const std::uint32_t value = Value32(a.value);
    Session s(ctx.options);
    if (group) {
        s.sender().SetSequence(a.sequence);
        s.sender().SendGroupWriteRequest(reg, a.words, value);
        s.flushSendEcho();
        return;
    }
    s.sender().SendWriteRequest(reg, a.words, value);
    s.flushSendEcho();
    std::this_thread::sleep_for(std::chrono::milliseconds(kReadBackDelayMs));
    s.sender().SendReadRequest(reg);
    s.flushSendEcho();
    auto v = s.awaitRegister(reg, kReplyTimeoutMs);
    if (!v) throw CommandError {kExitDevice, "No answer from the device when reading register " + std::to_string(reg) + " back"};
    std::cout << Masked(*v, a.words) << std::endl;
    if (Masked(*v, a.words) != Masked(value, a.words))
        throw CommandError {kExitDevice, "Register " + std::to_string(reg) + " reads back " +
                                             std::to_string(Masked(*v, a.words)) + ", not " +
                                             std::to_string(Masked(value, a.words))};
}

void CommandCommand(CommandContext& ctx, const std::string& name) {
    static const std::pair<const char*, std::uint8_t> kCommands[] = {
        {"reset", protocol::Cmd::Reset},
        {"flash", protocol::Cmd::WriteFlash},
        {"safe-enter", protocol::Cmd::SafeEnter},
        {"safe-exit", protocol::Cmd::SafeExit},
    };
    for (const auto& [text, letter] : kCommands) {
        if (name == text) {
            Session s(ctx.options);
            s.sender().SendCommand(letter);
            s.flushSendEcho();
            return;
        }
    }
    throw CommandError {kExitUsage, "Unknown command " + name};
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    for (std::uint8_t b : bytes) {
        char item[4];
        std::snprintf(item, sizeof item, "%02X", b);
        if (!out.empty()) out += ' ';
        out += item;
    }
    return out;
}

// One line per decoded reply.
std::string Describe(const protocol::ReceivedMessage& m) {
    using namespace protocol;
    switch (m.number) {
        case MsgRegisterValue:
            return "register " + std::to_string(m.wParam) + " = " + std::to_string(static_cast<std::uint32_t>(m.lParam));
        case MsgSampleRow: return "sample: " + HexBytes(m.payload);
        case MsgDebugInfo: return "debug info: " + HexBytes(m.payload);
        case MsgFieldbusData: return "fieldbus data: " + HexBytes(m.payload);
        case MsgModuleInfo: return "module info: " + HexBytes(m.payload);
        case MsgModuleStatus: return "module status: " + HexBytes(m.payload);
        case MsgModuleRegister:
            return "module register " + std::to_string(m.wParam) + " = " +
                   std::to_string(static_cast<std::int32_t>(static_cast<std::uint32_t>(m.lParam)));
        case MsgDebugData: return "debug data: " + HexBytes(m.payload);
        case MsgProgress: return "progress " + std::to_string(m.wParam) + "%";
        default: return "message " + std::to_string(m.number);
    }
}

void MonitorCommand(CommandContext& ctx) {
    Session s(ctx.options);
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    while (!g_interrupted) {
        auto m = s.sink().take([](const protocol::ReceivedMessage&) { return true; },
                               std::chrono::milliseconds(200));
        if (!m) continue;
        s.sink().endEchoLine();
        std::cout << Describe(*m) << std::endl;
    }
}

void PortsCommand() {
    for (int n = serial::kFirstListedPort; n <= serial::kLastListedPort; ++n) {
        const std::string path = serial::DevicePathForPort(n);
        if (serial::DeviceExists(path)) std::cout << "COM" << n << "\t" << path << "\n";
    }
}

}  // namespace

void AddRegisterCommands(CLI::App& app, CommandContext& ctx) {
    auto args = std::make_shared<RegisterArgs>();
    auto words = [&](CLI::App* c) {
        c->add_option("--words", args->words, "Register width in 16-bit words")
            ->check(CLI::IsMember({1, 2}))
            ->capture_default_str();
    };

    auto* read = app.add_subcommand("read", "Read a register and print its value");
    read->add_option("register", args->reg, "Register number (decimal or 0x..)")->required();
    words(read);
    read->add_option("--repeat", args->repeat, "Read N times and print the round-trip times")
        ->check(CLI::PositiveNumber);
    read->callback([&ctx, args] { ReadCommand(ctx, *args); });

    auto* write = app.add_subcommand("write", "Write a register, then read it back after 100 ms");
    write->add_option("register", args->reg, "Register number")->required();
    write->add_option("value", args->value, "Value (decimal or 0x..)")->required();
    words(write);
    write->callback([&ctx, args] { WriteCommand(ctx, *args, false); });

    auto* group = app.add_subcommand("group-write", "Write a register in every device of the group");
    group->add_option("register", args->reg, "Register number")->required();
    group->add_option("value", args->value, "Value (decimal or 0x..)")->required();
    group->add_option("--sequence", args->sequence, "Sequence number (low 8 bits are sent)")
        ->capture_default_str();
    words(group);
    group->callback([&ctx, args] { WriteCommand(ctx, *args, true); });

    auto* command = app.add_subcommand("command", "Send a device command");
    command->add_option("name", args->value, "reset, flash, safe-enter or safe-exit")
        ->required()
        ->check(CLI::IsMember({"reset", "flash", "safe-enter", "safe-exit"}));
    command->callback([&ctx, args] { CommandCommand(ctx, args->value); });

    auto* monitor = app.add_subcommand("monitor", "Print every decoded reply until interrupted");
    monitor->callback([&ctx] { MonitorCommand(ctx); });

    auto* ports = app.add_subcommand("ports", "List the port numbers that name an existing device");
    ports->callback([] { PortsCommand(); });
}

}  // namespace vindelor::cli
