// Register access from the command line: read, write, group write, samples, the register list,
// filter loading, commands, monitor and ports. With register definitions (from the current
// folder, else the user's or the shipped definition folder), registers go by name as well as
// number and print as the register list shows them.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <thread>

#include "cli/Cli.h"
#include "cli/Session.h"
#include "protocol/ByteText.h"
#include "registers/DefinitionFolders.h"
#include "registers/FilterLoader.h"
#include "registers/ParameterDevice.h"
#include "registers/RegisterList.h"
#include "registers/Scope.h"
#include "registers/ValueType.h"
#include "serial/PortNames.h"
#include "util/Json.h"
#include "util/Number.h"
#include "util/Text.h"

namespace vindelor::cli {

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kReplyTimeoutMs = 1000;
// Questions before a register that answers only ever with another answer around it counts as
// answered by two devices.
constexpr int kReadAttempts = 3;
// The register list reads a register back this long after writing it.
constexpr int kReadBackDelayMs = registers::RegisterList::kReadBackDelayMs;

std::atomic<bool> g_interrupted {false};
void OnInterrupt(int) { g_interrupted = true; }

struct RegisterArgs {
    std::string reg;
    std::string value;
    int words = 1;
    int repeat = 0;
    int sequence = 0;
    std::string moduleGroup;
    int count = 1;
    bool readAll = false;
    bool reconnect = false;
};

// Message boxes become lines on stderr; warnings are remembered for the exit status.
struct CliNotifier : protocol::Notifier {
    void warning(const std::string& caption, const std::string& text) override {
        if (!quiet) std::cerr << caption << ": " << text << std::endl;
        warnings.push_back(text);
    }
    void information(const std::string& caption, const std::string& text) override {
        std::cerr << caption << ": " << text << std::endl;
    }
    std::vector<std::string> warnings;
    bool quiet = false;
};

// The register list of the window, driven from the command line. The value entry answers with
// the value given on the command line.
class CliRegisters : public registers::RegisterListHost {
public:
    explicit CliRegisters(const GlobalOptions& o) : list(*this) {
        const auto type = registers::DeviceTypeFromName(o.type);
        if (!type) throw CommandError {kExitUsage, "Unknown device type " + o.type};
        list.deviceType = *type;
        list.altFiles = o.alt;
        list.fallbackFolders = registers::FallbackDefinitionFolders();
        // Plain register numbers need no definitions: load errors only count where they do.
        notes.quiet = true;
        list.reload();
        notes.quiet = false;
        loaded = notes.warnings.empty();
        loadErrors.swap(notes.warnings);
    }

    void connect(Session& s) { session = &s; }
    protocol::Sender& sender() override {
        if (!session) throw CommandError {kExitUsage, "No port is open"};
        return session->sender();
    }
    protocol::Notifier& notifier() override { return notes; }
    std::optional<std::string> askValue(const std::string&) override { return typedValue; }
    void pause(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    // The table entry of a register given by name (case as in the file) or number; -1 if none.
    int find(const std::string& text) const {
        for (int i = 0; i < list.defs.registerCount; ++i) {
            if (util::TrimRight(list.defs.registerTable[static_cast<std::size_t>(i)].name) == text) return i;
        }
        try {
            const long long n = ParseNumber(text, "the register");
            if (n >= 0 && n <= 255) return list.defs.findRegisterIndex(static_cast<int>(n));
        } catch (const CommandError&) {
        }
        return -1;
    }

    registers::RegisterList list;
    CliNotifier notes;
    bool loaded = false;
    std::vector<std::string> loadErrors;
    Session* session = nullptr;
    std::optional<std::string> typedValue;
};

std::uint8_t RegisterNumber(const std::string& text) {
    const long long n = ParseNumber(text, "the register");
    if (n < 0 || n > 255) throw CommandError {kExitUsage, "Register numbers run from 0 to 255: " + text};
    return static_cast<std::uint8_t>(n);
}

std::uint32_t Value32(const std::string& text) {
    const long long v = ParseNumber(text, "the value");
    if (v < INT32_MIN || v > UINT32_MAX) throw CommandError {kExitUsage, "The value does not fit in 32 bits: " + text};
    return static_cast<std::uint32_t>(v);
}

std::uint32_t Masked(std::uint32_t v, int words) { return words == 1 ? (v & 0xFFFFu) : v; }

CommandError NoAnswer(const std::string& what) { return {kExitDevice, "No answer from the device " + what}; }

// The entry of a named register, or -1 for a plain number the definitions do not hold.
int Entry(CliRegisters& regs, const std::string& text) {
    const int i = regs.loaded ? regs.find(text) : -1;
    if (i < 0) RegisterNumber(text);  // neither a known name nor a register number
    return i;
}

// The JSON of a value: the raw value, the converted one (a number; the text for a version
// word; null for a placeholder) and the text the list shows.
void AddValueJson(util::JsonObject& o, int type, std::uint32_t raw, const std::string& shown) {
    if (type == registers::Dummy) {
        o.null("raw").null("value").text("text", "");
        return;
    }
    o.integer("raw", raw);
    if (type == registers::Version)
        o.text("value", shown);
    else
        o.number("value", registers::sampleNumber(type, raw));
    o.text("text", shown);
}

// A register of the list as JSON: its name, number, type keyword and the value its line shows.
std::string RegisterJson(const registers::RegisterList& list, int index) {
    const auto& def = list.defs.registerTable[static_cast<std::size_t>(index)];
    util::JsonObject o;
    o.text1252("name", util::TrimRight(def.name));
    if (def.number >= 0)
        o.integer("number", def.number);
    else
        o.null("number");
    o.text("type", registers::TypeKeyword(def.type));
    const std::uint32_t raw = list.lineValues[static_cast<std::size_t>(index)];
    AddValueJson(o, def.number >= 0 ? def.type : registers::Dummy, raw,
                 std::string(util::Trimmed(registers::valueText(def.type, raw))));
    return o.str();
}

// One register read that must get one answer: a reply with another one around it (two devices
// at the address, a reply that came twice) is asked again on a quiet line, and fails the
// command when it never comes alone. No answer at all ends at once, as it always did.
std::uint32_t ReadAlone(BorrowedPort& port, int address, int number, const std::string& name,
                        const std::string& unanswered, Clock::time_point* answeredAt = nullptr) {
    const auto r = port.link.readAlone(address, number, std::chrono::milliseconds(kReplyTimeoutMs),
                                       kReadAttempts, protocol::RegisterLink::Silence::Ends);
    if (!r.reply) {
        if (r.doubtful > 0) throw CommandError {kExitDevice, registers::TwoAnswersText(name, address)};
        throw NoAnswer(unanswered);
    }
    if (answeredAt) *answeredAt = r.answeredAt;
    return r.reply->value;
}

void ReadCommand(CommandContext& ctx, const RegisterArgs& a) {
    CliRegisters regs(ctx.options);
    const int entry = Entry(regs, a.reg);
    const int number = entry >= 0 ? regs.list.defs.registerTable[static_cast<std::size_t>(entry)].number
                                  : RegisterNumber(a.reg);
    if (number < 0) throw CommandError {kExitUsage, a.reg + " is a placeholder without a value"};
    Session s(ctx.options);
    BorrowedPort port(s);
    const int count = std::max(1, a.repeat);
    std::vector<double> trips;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        Clock::time_point answered;
        const std::uint32_t value = ReadAlone(port, ctx.options.address, number, a.reg, "for register " + a.reg, &answered);
        s.flushSendEcho();
        regs.list.onRegisterValue(number, value);
        trips.push_back(std::chrono::duration<double, std::milli>(answered - start).count());
        const std::uint32_t plain = Masked(value, a.words);
        if (ctx.json && entry >= 0) {
            std::cout << RegisterJson(regs.list, entry) << std::endl;
        } else if (ctx.json) {
            // A number the definitions do not hold: the value as it came, no type to convert by.
            std::cout << util::JsonObject()
                             .null("name")
                             .integer("number", number)
                             .null("type")
                             .integer("words", a.words)
                             .integer("raw", plain)
                             .integer("value", plain)
                             .text("text", std::to_string(plain))
                             .str()
                      << std::endl;
        } else if (entry >= 0) {
            std::cout << regs.list.lines[static_cast<std::size_t>(entry)] << std::endl;
        } else {
            std::cout << plain << std::endl;
        }
    }
    if (a.repeat > 0) {
        std::sort(trips.begin(), trips.end());
        const std::size_t n = trips.size();
        const double median = n % 2 ? trips[n / 2] : (trips[n / 2 - 1] + trips[n / 2]) / 2;
        if (ctx.json) {
            // In milliseconds to the microsecond, as the text says them.
            auto ms = [](double v) { return std::round(v * 1000) / 1000; };
            const std::string times = util::JsonObject()
                                          .integer("count", static_cast<std::int64_t>(n))
                                          .number("min", ms(trips.front()))
                                          .number("median", ms(median))
                                          .number("max", ms(trips.back()))
                                          .str();
            std::cout << util::JsonObject().value("round_trip_ms", times).str() << std::endl;
            return;
        }
        std::cout << "round trip ms: min " << util::FixedText(trips.front(), 3) << " median "
                  << util::FixedText(median, 3) << " max " << util::FixedText(trips.back(), 3) << std::endl;
    }
}

void WriteCommand(CommandContext& ctx, const RegisterArgs& a, bool group) {
    CliRegisters regs(ctx.options);
    const int entry = Entry(regs, a.reg);
    Session s(ctx.options);
    regs.connect(s);
    if (group) s.sender().SetSequence(a.sequence);

    if (entry >= 0) {
        // As keys W and G of the register list: the value is converted by the register's type.
        regs.typedValue = a.value;
        const bool sent = group ? regs.list.editRegisterGroup(entry) : regs.list.editRegister(entry);
        if (!sent) {
            const auto& def = regs.list.defs.registerTable[static_cast<std::size_t>(entry)];
            if (!regs.notes.warnings.empty()) throw CommandError {kExitUsage, regs.notes.warnings.back()};
            throw CommandError {kExitUsage, "Register " + a.reg + " (" + std::string(registers::TypeKeyword(def.type)) +
                                                ") takes no typed value"};
        }
        s.flushSendEcho();
        if (group) return;
        regs.pause(kReadBackDelayMs);
        const auto& def = regs.list.defs.registerTable[static_cast<std::size_t>(entry)];
        std::uint32_t back = 0;
        {
            BorrowedPort port(s);
            back = ReadAlone(port, ctx.options.address, def.number, a.reg, "when reading " + a.reg + " back");
        }
        regs.list.onRegisterValue(def.number, back);
        std::cout << regs.list.lines[static_cast<std::size_t>(entry)] << std::endl;
        // The write has no answer of its own: only the value read back tells that it arrived.
        const auto written = registers::parseValue(def.type, a.value);
        if (written && Masked(back, def.words) != Masked(static_cast<std::uint32_t>(*written), def.words))
            throw CommandError {kExitDevice, a.reg + " reads back otherwise than written: the write did not take"};
        return;
    }

    const std::uint8_t reg = RegisterNumber(a.reg);
    const std::uint32_t value = Value32(a.value);
    if (group) {
        s.sender().SendGroupWriteRequest(reg, a.words, value);
        s.flushSendEcho();
        return;
    }
    s.sender().SendWriteRequest(reg, a.words, value);
    regs.pause(kReadBackDelayMs);
    std::uint32_t raw = 0;
    {
        BorrowedPort port(s);
        raw = ReadAlone(port, ctx.options.address, reg, "register " + std::to_string(reg),
                        "when reading register " + std::to_string(reg) + " back");
    }
    const std::uint32_t back = Masked(raw, a.words);
    std::cout << back << std::endl;
    if (back != Masked(value, a.words))
        throw CommandError {kExitDevice, "Register " + std::to_string(reg) + " reads back " + std::to_string(back) +
                                             ", not " + std::to_string(Masked(value, a.words))};
}

CliRegisters& RequireDefinitions(CliRegisters& regs, const GlobalOptions& o) {
    if (!regs.loaded) {
        // One line on stderr: the line that names where the file was looked for follows a "; ".
        std::string error = regs.loadErrors.front();
        for (auto at = error.find('\n'); at != std::string::npos; at = error.find('\n', at))
            error.replace(at, 1, "; ");
        const std::string where = regs.list.loadedFrom == "." ? "the current folder" : regs.list.loadedFrom;
        throw CommandError {kExitUsage, "No usable register definitions for " + o.type + " in " + where + " (" + error + ")"};
    }
    return regs;
}

void ListCommand(CommandContext& ctx, const RegisterArgs& a) {
    CliRegisters regs(ctx.options);
    RequireDefinitions(regs, ctx.options);
    std::unique_ptr<Session> s;
    if (a.readAll) {
        s = std::make_unique<Session>(ctx.options);
        regs.connect(*s);
        for (int i = 0; i < regs.list.defs.registerCount; ++i) {
            const auto& def = regs.list.defs.registerTable[static_cast<std::size_t>(i)];
            if (def.type == registers::Dummy || def.number < 0) continue;
            regs.list.onRegisterValue(
                def.number, s->readRegisterAlone(def.number, util::TrimRight(def.name), kReplyTimeoutMs));
        }
    }
    if (ctx.json) {
        std::vector<std::string> registerItems;
        // As many as the lists hold lines (the tables behind them are at least as long).
        for (std::size_t i = 0; i < regs.list.lineValues.size(); ++i)
            registerItems.push_back(RegisterJson(regs.list, static_cast<int>(i)));
        std::vector<std::string> fieldItems;
        for (std::size_t i = 0; i < regs.list.bitFieldValues.size(); ++i) {
            const auto& bf = regs.list.defs.bitFieldTable[i];
            const std::uint32_t v = regs.list.bitFieldValues[i];
            util::JsonObject o;
            o.text1252("name", util::TrimRight(bf.name))
                .integer("register", bf.registerNumber)
                .integer("first_bit", bf.firstBit)
                .integer("width", bf.width)
                .integer("value", v);
            if (v < bf.valueNames.size())
                o.text1252("value_name", bf.valueNames[v]);
            else
                o.null("value_name");
            fieldItems.push_back(o.str());
        }
        std::cout << util::JsonObject()
                         .text("device_type", ctx.options.type)
                         .boolean("read", a.readAll)
                         .value("registers", util::JsonArray(registerItems))
                         .value("bit_fields", util::JsonArray(fieldItems))
                         .str()
                  << std::endl;
        return;
    }
    for (const auto& line : regs.list.lines) std::cout << line << "\n";
    if (!regs.list.bitFieldLines.empty()) std::cout << "\n";
    for (const auto& line : regs.list.bitFieldLines) std::cout << line << "\n";
    std::cout.flush();
}

void SampleCommand(CommandContext& ctx, const RegisterArgs& a) {
    CliRegisters regs(ctx.options);
    RequireDefinitions(regs, ctx.options);
    Session s(ctx.options);
    regs.connect(s);
    const auto& captions = regs.list.sampleCaptions;
    std::size_t printed = 0;
    auto print = [&](const protocol::ReceivedMessage& m) {
        if (ctx.json) {
            // One object a row: each channel's register, raw and converted value.
            const auto& row = regs.list.sampleRows.back();
            std::vector<std::string> channels;
            for (int c = 0; c < registers::RegisterList::kSampleChannels; ++c) {
                const int type = regs.list.sampleTypes[static_cast<std::size_t>(c)];
                util::JsonObject o;
                o.text1252("name", captions[static_cast<std::size_t>(c)]).text("type", registers::TypeKeyword(type));
                AddValueJson(o, type, registers::sampleRaw(m.payload, c, type, regs.list.defs.wordsPerRegister),
                             std::string(util::Trimmed(row[static_cast<std::size_t>(c) + 1])));
                channels.push_back(o.str());
            }
            std::cout << util::JsonObject()
                             .integer("nr", static_cast<std::int64_t>(regs.list.sampleRows.size()))
                             .value("channels", util::JsonArray(channels))
                             .str()
                      << std::endl;
            return;
        }
        if (printed == 0)
            std::cout << "Nr\t" << captions[0] << "\t" << captions[1] << "\t" << captions[2] << "\t" << captions[3] << "\n";
        for (; printed < regs.list.sampleRows.size(); ++printed) {
            const auto& row = regs.list.sampleRows[printed];
            std::cout << row[0] << "\t" << row[1] << "\t" << row[2] << "\t" << row[3] << "\t" << row[4] << std::endl;
        }
    };
    // As the list's key S does on an empty table, the selectors first: they name the registers
    // of the columns. Each is read alone, as is each sample.
    for (int k = 0; k < registers::RegisterList::kSampleChannels; ++k) {
        const int reg = regs.list.defs.sampleBase + k;
        const int j = regs.list.defs.findRegisterIndex(reg);
        if (j < 0) continue;
        const std::string name = util::TrimRight(regs.list.defs.registerTable[static_cast<std::size_t>(j)].name);
        regs.list.onRegisterValue(reg, s.readRegisterAlone(reg, name, kReplyTimeoutMs));
    }
    for (int i = 0; i < a.count; ++i) {
        const auto asked = s.askAlone([&] { s.sender().SendCommand(protocol::Cmd::Sample); },
                                      [](const protocol::ReceivedMessage& m) { return m.number == protocol::MsgSampleRow; },
                                      kReplyTimeoutMs);
        if (!asked.reply) {
            if (asked.doubtful > 0)
                throw CommandError {kExitDevice, registers::TwoAnswersText("The sample command", ctx.options.address)};
            throw NoAnswer("to the sample command");
        }
        regs.list.addSampleRow(asked.reply->payload);
        print(*asked.reply);
    }
}

void FilterCommand(CommandContext& ctx, const std::string& path) {
    CliRegisters regs(ctx.options);
    RequireDefinitions(regs, ctx.options);
    Session s(ctx.options);
    regs.connect(s);
    const std::string error = registers::loadFilter(path, regs.list.deviceType, regs.list.defs, s.sender(), regs.notes);
    s.flushSendEcho();
    if (!error.empty()) throw CommandError {kExitDevice, error};
    if (regs.list.deviceType != registers::VX20_95)
        std::cerr << "Filters are only written to a VX20-95; nothing was sent." << std::endl;
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

void MonitorCommand(CommandContext& ctx, bool reconnect) {
    Session s(ctx.options);
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    while (!g_interrupted) {
        auto m = s.sink().take([](const protocol::ReceivedMessage&) { return true; }, std::chrono::milliseconds(200));
        if (!m) {
            // Everything received before a hang-up is printed first.
            if (s.portLost()) {
                if (!reconnect) throw CommandError {kExitDevice, LostPortText(s)};
                if (!s.reconnect([] { return g_interrupted.load(); })) break;
            }
            continue;
        }
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
        c->add_option("--words", args->words, "Width in 16-bit words of a register given by number")
            ->check(CLI::IsMember({1, 2}))
            ->capture_default_str();
    };
    const char* regHelp = "Register name (as in the definition file) or number (decimal or 0x..)";

    auto* read = app.add_subcommand("read", "Read a register and print its value");
    read->add_option("register", args->reg, regHelp)->required();
    words(read);
    read->add_option("--repeat", args->repeat, "Read N times and print the round-trip times")->check(AtLeast(1));
    AddJsonFlag(read, ctx);
    read->callback([&ctx, args] { ReadCommand(ctx, *args); });

    auto* write = app.add_subcommand("write", "Write a register, then read it back after 100 ms");
    write->add_option("register", args->reg, regHelp)->required();
    write->add_option("value", args->value, "Value, in the register's type (decimal or 0x.. by number)")->required();
    words(write);
    write->callback([&ctx, args] { WriteCommand(ctx, *args, false); });

    auto* group = app.add_subcommand("group-write", "Write a register in every device of the group");
    group->add_option("register", args->reg, regHelp)->required();
    group->add_option("value", args->value, "Value")->required();
    group->add_option("--sequence", args->sequence, "Sequence number (low 8 bits are sent)")->capture_default_str();
    auto* explicitGroup = group->add_option(
        "--group", args->moduleGroup,
        "As the group-write module's tab: this group, REGISTER a defined number, VALUE a plain integer");
    words(group);
    group->callback([&ctx, args, explicitGroup] {
        if (explicitGroup->count() > 0) {
            // The register's width comes from the definitions every other command finds.
            CliRegisters regs(ctx.options);
            RequireDefinitions(regs, ctx.options);
            ModuleGroupWrite(ctx, regs.list.defs, args->reg, args->value, args->moduleGroup, args->sequence);
        } else
            WriteCommand(ctx, *args, true);
    });

    auto* list = app.add_subcommand("list", "Print the register and bit-field lines as the window shows them");
    list->add_flag("--read", args->readAll, "Read every register from the device first");
    AddJsonFlag(list, ctx);
    list->callback([&ctx, args] { ListCommand(ctx, *args); });

    auto* sample = app.add_subcommand("sample", "Take samples of the four selected registers");
    sample->add_option("--count", args->count, "Number of samples")->check(AtLeast(1))->capture_default_str();
    AddJsonFlag(sample, ctx);
    sample->callback([&ctx, args] { SampleCommand(ctx, *args); });

    auto* filter = app.add_subcommand("filter", "Write the filter coefficients of FILE to a VX20-95");
    filter->add_option("file", args->value, "Coefficient file (signed 32-bit little-endian integers)")->required();
    filter->callback([&ctx, args] { FilterCommand(ctx, args->value); });

    auto* command = app.add_subcommand("command", "Send a device command");
    command->add_option("name", args->value, "reset, flash, safe-enter or safe-exit")
        ->required()
        ->check(CLI::IsMember({"reset", "flash", "safe-enter", "safe-exit"}));
    command->callback([&ctx, args] { CommandCommand(ctx, args->value); });

    auto* monitor = app.add_subcommand("monitor", "Print every decoded reply until interrupted");
    monitor->add_flag("--reconnect", args->reconnect, "When the port is lost, wait for it to return and go on");
    monitor->callback([&ctx, args] { MonitorCommand(ctx, args->reconnect); });

    auto* ports = app.add_subcommand("ports", "List the port numbers that name an existing device");
    ports->callback([] { PortsCommand(); });
}

}  // namespace vindelor::cli
