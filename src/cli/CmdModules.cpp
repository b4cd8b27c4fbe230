// The expansion-module tools from the command line: the fieldbus module's text poll, the
// group-write module's status, registers and group write, the debug and fieldbus views, and
// the break and rotation tests. Each does what its tab does, with the same bytes.
#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <mutex>

#include "cli/Cli.h"
#include "cli/Session.h"
#include "cli/SignalWatch.h"
#include "modules/DebugViews.h"
#include "modules/GroupModule.h"
#include "modules/IntegerText.h"
#include "modules/ModulePoll.h"
#include "modules/MotorTests.h"
#include "protocol/ByteText.h"
#include "registers/Definitions.h"
#include "registers/ParameterDevice.h"
#include "util/Json.h"

namespace vindelor::cli {

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kReplyTimeoutMs = 1000;
// How long the stop write may take to leave the line before the program ends.
constexpr std::uint32_t kStopSentSlackMs = 200;

// The core's texts break lines with "\r" or "\r\n"; a terminal wants "\n".
std::string TerminalText(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// A text that is not an integer is the user's mistake: exit status 2.
template <typename Fn>
void WithTextsChecked(Fn fn) {
    try {
        fn();
    } catch (const modules::ConversionError& e) {
        throw CommandError {kExitUsage, e.what()};
    }
}

// A request and its reply, taken only when it came alone (Session::askAlone).
protocol::ReceivedMessage Ask(Session& s, const std::function<void()>& send, int number, const char* what) {
    auto asked = s.askAlone(send, [number](const protocol::ReceivedMessage& r) { return r.number == number; },
                            kReplyTimeoutMs);
    s.flushSendEcho();
    if (asked.reply) return *asked.reply;
    if (asked.doubtful > 0)
        throw CommandError {kExitDevice, registers::TwoAnswersText(std::string("The ") + what, s.address())};
    throw CommandError {kExitDevice, std::string("No answer from the device to the ") + what};
}

// Message boxes of the register write become lines on stderr.
struct StderrNotifier : protocol::Notifier {
    void warning(const std::string& caption, const std::string& text) override {
        std::cerr << caption << ": " << text << std::endl;
    }
    void information(const std::string& caption, const std::string& text) override {
        std::cerr << caption << ": " << text << std::endl;
    }
};

struct ModuleArgs {
    int seconds = 0;
    std::string reg;
    std::string value;
    std::vector<std::string> values;
    int ticks = 1;
    int increment = modules::kIncrementStart;
    int interval = modules::kIntervalStartMs;
};

void PollCommand(CommandContext& ctx, const ModuleArgs& a) {
    // A signal or a closed output ends the poll as its time running out does.
    SignalWatch signals;
    // The poll owns the port: no receive thread reads it meanwhile.
    auto port = MakePort(ctx.options.port, ctx.options.baud);
    OpenOrThrow(*port);
    std::mutex mutex;
    std::string failure;
    std::atomic<bool> outputClosed {false};
    modules::ModulePoller poller(
        *port,
        [&](const std::string& text) {
            std::cout << TerminalText(text);
            std::cout.flush();
            if (!std::cout) {
                outputClosed = true;
                signals.wake();
            }
        },
        [&](const serial::TSerErr& e) {
            std::lock_guard lock(mutex);
            failure = std::string(e.Text) + (e.Detail[0] ? std::string(": ") + e.Detail : std::string());
            signals.wake();
        });
    const auto failed = [&] {
        std::lock_guard lock(mutex);
        return !failure.empty();
    };
    const auto deadline = Clock::now() + std::chrono::seconds(a.seconds);
    while (!signals.caught() && !outputClosed && !failed()) {
        if (a.seconds <= 0)
            signals.wait();
        else if (signals.waitUntil(deadline))
            break;
    }
    poller.Stop();
    if (const int garbled = poller.Garbled(); garbled > 0)
        std::cerr << "vindelor-cli: dropped " << garbled << (garbled == 1 ? " garbled reply" : " garbled replies")
                  << " from the module; the text in it is lost" << std::endl;
    if (const int doubled = poller.Doubled(); doubled > 0)
        std::cerr << "vindelor-cli: dropped " << doubled << (doubled == 1 ? " reply" : " replies")
                  << " that came with another (a second device, or a reply sent twice); which text was the "
                     "module's cannot be told"
                  << std::endl;
    if (failed()) throw CommandError {kExitDevice, failure};
    // Replies that the poll cannot take (wrong letters, cut short) are no answer either.
    if (poller.Exchanges() == 0) throw CommandError {kExitDevice, "No answer from the module to the text poll"};
}

void ModuleStatusCommand(CommandContext& ctx) {
    Session s(ctx.options);
    const auto m =
        Ask(s, [&] { modules::SendModuleStatusRequest(s.sender()); }, protocol::MsgModuleStatus, "status request");
    if (ctx.json) {
        const modules::ModuleStatus st = modules::ParseModuleStatus(m.payload);
        std::vector<std::string> raw;
        for (std::uint8_t b : m.payload) raw.push_back(std::to_string(b));
        std::cout << util::JsonObject()
                         .integer("position", st.position)
                         .integer("status", st.status)
                         .text("status_bits", protocol::BinaryText(st.status, 16))
                         .integer("last_group_sequence", st.lastSequence)
                         .integer("receive_errors", st.receiveErrors)
                         .value("raw", util::JsonArray(raw))
                         .str()
                  << std::endl;
        return;
    }
    std::cout << TerminalText(modules::ModuleStatusText(m.payload));
}

void ModuleReadCommand(CommandContext& ctx, const ModuleArgs& a) {
    Session s(ctx.options);
    WithTextsChecked([&] { modules::ReadInteger(a.reg); });
    const auto m = Ask(s, [&] { modules::SendModuleRegisterRead(s.sender(), a.reg); }, protocol::MsgModuleRegister,
                       "module register read");
    std::cout << modules::ModuleRegisterText(static_cast<int>(m.wParam), static_cast<std::uint32_t>(m.lParam))
              << std::endl;
}

void ModuleWriteCommand(CommandContext& ctx, const ModuleArgs& a) {
    Session s(ctx.options);
    WithTextsChecked([&] {
        modules::ReadInteger(a.reg);
        modules::SendModuleRegisterWrite(s.sender(), a.reg, a.value);
    });
    s.flushSendEcho();
}

// A request whose reply is shown as a text.
void ViewCommand(CommandContext& ctx, std::uint8_t command, int reply, const char* what,
                 std::string (*text)(std::span<const std::uint8_t>)) {
    Session s(ctx.options);
    const auto m = Ask(s, [&] { modules::SendDebugRequest(s.sender(), command); }, reply, what);
    std::string shown = TerminalText(text(m.payload));
    if (!shown.empty() && shown.back() != '\n') shown += '\n';
    std::cout << shown;
}

void ProfiWriteCommand(CommandContext& ctx, const ModuleArgs& a) {
    std::string joined;
    for (const auto& v : a.values) joined += (joined.empty() ? "" : " ") + v;
    std::array<std::uint8_t, modules::kProfiWriteBytes> data {};
    WithTextsChecked([&] { data = modules::ParseProfiData(joined); });
    Session s(ctx.options);
    modules::SendDebugRequest(s.sender(), modules::DebugCmd::WriteProfiData, data);
    s.flushSendEcho();
}

void BreakTestCommand(CommandContext& ctx, const ModuleArgs& a) {
    SignalWatch signals;
    Session s(ctx.options);
    modules::BreakTest test;
    auto next = Clock::now();
    for (int i = 0; i < a.ticks; ++i) {
        next += std::chrono::milliseconds(modules::kBreakTestIntervalMs);
        if (!signals.waitUntil(next)) break;
        test.Tick(s.sender());
        s.flushSendEcho();
        std::cout << "register " << int {modules::kModeRegister} << " = " << test.Value() << std::endl;
        if (!std::cout) break;  // the output was closed
    }
}

void RotateCommand(CommandContext& ctx, const ModuleArgs& a) {
    // From before the port opens: a signal meanwhile ends the command before anything moves.
    SignalWatch signals;
    Session s(ctx.options);
    if (signals.caught()) return;
    // A crash cannot send through the sender; its handler writes these bytes itself. Gone
    // before the port closes.
    const SignalWatch::LastWords lastWords(s.port().Handle, modules::Rotation::StopFrame(ctx.options.address));
    StderrNotifier notes;
    modules::Rotation rotation;
    // The motor never keeps turning after the command: the stop goes out on every way out,
    // and has left the line before the program ends.
    const auto stop = [&] {
        modules::Rotation::Stop(s.sender());
        s.flushSendEcho();
        s.port().WaitSent(kStopSentSlackMs);
    };
    try {
        modules::Rotation::Start(s.sender());
        s.flushSendEcho();
        auto next = Clock::now();
        for (int i = 0; i < a.ticks; ++i) {
            next += std::chrono::milliseconds(a.interval);
            if (!signals.waitUntil(next)) break;
            const std::int32_t v = rotation.Tick(s.sender(), notes, a.increment);
            s.flushSendEcho();
            std::cout << "register " << int {modules::kRotateRegister} << " = " << v << std::endl;
            if (!std::cout) break;  // the output was closed: nobody watches any more
        }
    } catch (...) {
        try {
            stop();
        } catch (...) {
        }
        throw;
    }
    stop();
    if (const int signal = signals.caught())
        std::cerr << "vindelor-cli: " << SignalName(signal) << ": rotation stopped" << std::endl;
}

}  // namespace

void ModuleGroupWrite(CommandContext& ctx, const registers::Definitions& defs, const std::string& reg,
                      const std::string& value, const std::string& group, int sequence) {
    WithTextsChecked([&] {
        modules::ReadInteger(group);
        modules::ReadInteger(reg);
        modules::ReadInteger(value);
    });
    Session s(ctx.options);
    std::string next;
    try {
        modules::SendModuleGroupWrite(s.sender(), defs, {group, std::to_string(sequence), reg, value},
                                      [&](const std::string& n) { next = n; });
    } catch (const modules::ParameterNotFound& e) {
        throw CommandError {kExitUsage, e.what()};
    }
    s.flushSendEcho();
    std::cout << "next sequence " << next << std::endl;
}

void AddModuleCommands(CLI::App& app, CommandContext& ctx) {
    auto args = std::make_shared<ModuleArgs>();

    auto* poll = app.add_subcommand("poll", "Poll the fieldbus module's text and print it as it arrives");
    poll->add_option("--seconds", args->seconds, "Stop after N seconds (default: until interrupted)")->check(AtLeast(0));
    poll->footer("Exit status 1 when no valid reply came from the module in the whole run.");
    poll->callback([&ctx, args] { PollCommand(ctx, *args); });

    auto* module = app.add_subcommand("module", "The group-write module's status and registers");
    module->require_subcommand(1);
    auto* status = module->add_subcommand("status", "Print the module status");
    AddJsonFlag(status, ctx);
    status->callback([&ctx] { ModuleStatusCommand(ctx); });
    auto* mread = module->add_subcommand("read", "Read a module register");
    mread->add_option("register", args->reg, "Module register number")->required();
    mread->callback([&ctx, args] { ModuleReadCommand(ctx, *args); });
    auto* mwrite = module->add_subcommand("write", "Write a module register (4 bytes)");
    mwrite->add_option("register", args->reg, "Module register number")->required();
    mwrite->add_option("value", args->value, "Value (signed 32-bit)")->required();
    mwrite->callback([&ctx, args] { ModuleWriteCommand(ctx, *args); });

    app.add_subcommand("debug", "Read and print the debug status block")->callback([&ctx] {
        ViewCommand(ctx, modules::DebugCmd::ReadDebugInfo, protocol::MsgDebugInfo, "debug info request",
                    [](std::span<const std::uint8_t> d) { return modules::DebugStatusText(d); });
    });

    auto* profi = app.add_subcommand("profi", "The Profibus data of a fieldbus module");
    profi->require_subcommand(1);
    profi->add_subcommand("read", "Read and print the Profibus data")->callback([&ctx] {
        ViewCommand(ctx, modules::DebugCmd::ReadProfiData, protocol::MsgFieldbusData, "Profibus data request",
                    [](std::span<const std::uint8_t> d) { return modules::ProfiDataText(d); });
    });
    auto* pwrite = profi->add_subcommand("write", "Write up to 9 data bytes (the rest are 0)");
    pwrite->add_option("values", args->values, "Decimal values; their low 8 bits are sent");
    pwrite->callback([&ctx, args] { ProfiWriteCommand(ctx, *args); });
    profi->add_subcommand("dump", "Read and print the 256-byte debug area")->callback([&ctx] {
        ViewCommand(ctx, modules::DebugCmd::ReadDebugData, protocol::MsgDebugData, "debug data request",
                    [](std::span<const std::uint8_t> d) { return modules::DebugAreaText(d); });
    });

    auto* brk = app.add_subcommand("break-test",
                                   "Write register 2 with 3, 0, 3, ... every 500 ms. No stop write follows: after an "
                                   "odd number of ticks register 2 stays at 3");
    brk->add_option("--ticks", args->ticks, "Number of writes (odd: register 2 is left at 3)")
        ->check(AtLeast(1))
        ->capture_default_str();
    brk->callback([&ctx, args] { BreakTestCommand(ctx, *args); });

    auto* rotate = app.add_subcommand("rotate",
                                      "Manual rotation: register 2 = 7, steps in register 176, then 2 = 0 (also on a "
                                      "signal, a closed output or an error)");
    rotate->add_option("--increment", args->increment, "Step per tick")
        ->check(CLI::Range(modules::kIncrementMin, modules::kIncrementMax))
        ->capture_default_str();
    rotate->add_option("--interval", args->interval, "Milliseconds between ticks")
        ->check(CLI::Range(modules::kIntervalMinMs, modules::kIntervalMaxMs))
        ->capture_default_str();
    rotate->add_option("--ticks", args->ticks, "Number of steps")->check(AtLeast(1))->capture_default_str();
    rotate->callback([&ctx, args] { RotateCommand(ctx, *args); });
}

}  // namespace vindelor::cli
