// The bus scan and parameter sets from the command line: scan, params save, params diff and
// params restore. The work is the core's (registers/BusScan, ParameterSet, ParameterDevice);
// these commands load the definitions, borrow the port from the receive thread and print.
#include <atomic>
#include <csignal>
#include <iostream>
#include <memory>

#include "cli/Cli.h"
#include "cli/Session.h"
#include "registers/BusScan.h"
#include "registers/DefinitionFolders.h"
#include "registers/ParameterDevice.h"
#include "registers/ValueType.h"
#include "util/Json.h"
#include "util/Text.h"

namespace vindelor::cli {

namespace {

using registers::ParameterSet;

std::atomic<bool> g_interrupted{false};
void OnInterrupt(int) {
    g_interrupted = true;
}

void CatchInterrupts() {
    g_interrupted = false;
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
}

struct ParamArgs {
    int from = 0;
    int to = registers::ScanOptions::kLastOwnAddress;
    int marginMs = registers::ScanOptions::kDefaultMarginMs;
    std::string file;
    std::string file2;
    bool all = false;
    bool dryRun = false;
    bool flash = false;
    bool force = false;
};

int DeviceTypeOf(const std::string& name) {
    const auto type = registers::DeviceTypeFromName(name);
    if (!type) throw CommandError{kExitUsage, "Unknown device type " + name};
    return *type;
}

std::vector<std::string> DefinitionFolders() {
    std::vector<std::string> folders{"."};
    const auto fallback = registers::FallbackDefinitionFolders();
    folders.insert(folders.end(), fallback.begin(), fallback.end());
    return folders;
}

registers::ParameterDefinitions LoadDefinitions(int type, bool alt, int status) {
    registers::ParameterDefinitions pd;
    std::string error;
    if (!registers::LoadParameterDefinitions(type, alt, DefinitionFolders(), pd, error))
        throw CommandError{status, "No usable register definitions for " +
                                       std::string(registers::FilesOf(type).name) + " (" + error +
                                       ")"};
    return pd;
}

std::string Registers(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " register" : " registers");
}

std::string VersionText(std::uint32_t raw) {
    return std::string(util::Trimmed(registers::valueText(registers::Version, raw)));
}

void ScanCommand(CommandContext& ctx, const ParamArgs& a) {
    if (a.from < 0 || a.to > 255 || a.from > a.to)
        throw CommandError{kExitUsage, "Scan addresses run from 0 to 255, --from not above --to"};
    if (a.marginMs < 0) throw CommandError{kExitUsage, "--timeout-ms cannot be negative"};
    const int type = DeviceTypeOf(ctx.options.type);
    // The chosen type's definitions give the register to ask; all four tell the types apart.
    std::array<std::unique_ptr<registers::ParameterDefinitions>, 4> all;
    std::array<const registers::Definitions*, 4> defs{};
    for (int t = registers::VX20_95; t <= registers::KT56; ++t) {
        try {
            all[static_cast<std::size_t>(t - 1)] =
                std::make_unique<registers::ParameterDefinitions>(
                    LoadDefinitions(t, ctx.options.alt, kExitUsage));
            defs[static_cast<std::size_t>(t - 1)] = &all[static_cast<std::size_t>(t - 1)]->defs;
        } catch (const CommandError&) {
            if (t == type) throw;
        }
    }
    const int firmware = defs[static_cast<std::size_t>(type - 1)]->findRegisterByName("FIRMWARE");
    if (firmware < 0)
        throw CommandError{kExitUsage, "The definitions of the " + ctx.options.type +
                                           " name no FIRMWARE register"};

    Session s(ctx.options);
    BorrowedPort port(s);
    CatchInterrupts();
    registers::ScanOptions o;
    o.from = a.from;
    o.to = a.to;
    o.registerNumber = firmware;
    o.marginMs = a.marginMs;
    o.cancelled = [] { return g_interrupted.load(); };
    const auto outcome = registers::ScanBus(port.link, o);

    std::vector<std::string> items;
    for (const auto& hit : outcome.found) {
        const auto id = registers::IdentifyDevice(
            port.link, hit.address, defs, type, registers::ScanConfirmTime(port.link, a.marginMs));
        const auto firmwareValue = registers::ShownFirmware(id, hit, type);
        const std::string version = firmwareValue ? VersionText(*firmwareValue) : "unknown";
        const std::string typeName =
            id.deviceType ? registers::FilesOf(id.deviceType).name : "unknown";
        s.flushSendEcho();
        if (ctx.json) {
            util::JsonObject j;
            j.integer("address", hit.address);
            if (firmwareValue)
                j.text("firmware", version);
            else
                j.null("firmware");
            if (id.deviceType)
                j.text("type", typeName);
            else
                j.null("type");
            items.push_back(j.str());
        } else {
            std::cout << hit.address << "\t" << version << "\t" << typeName << std::endl;
        }
    }
    std::vector<std::string> twoAt;
    for (int address : outcome.twoAnswers) twoAt.push_back(std::to_string(address));
    if (ctx.json)
        std::cout << util::JsonObject()
                         .integer("from", a.from)
                         .integer("to", a.to)
                         .boolean("complete", !outcome.cancelled)
                         .integer("late_replies", outcome.lateReplies)
                         .value("devices", util::JsonArray(items))
                         .value("two_devices_at", util::JsonArray(twoAt))
                         .str()
                  << std::endl;
    if (outcome.lateReplies > 0)
        std::cerr
            << "Replies came late or broken at " << outcome.lateReplies
            << (outcome.lateReplies == 1 ? " address" : " addresses")
            << "; the addresses before them were asked again with more time. A device slower than "
               "--timeout-ms is found at once with a larger one."
            << std::endl;
    for (int address : outcome.twoAnswers)
        std::cerr << registers::TwoDevicesText(address) << std::endl;
    if (outcome.cancelled) std::cerr << "Scan interrupted at the user's request" << std::endl;
    if (outcome.found.empty() && outcome.twoAnswers.empty())
        std::cerr << "No device answered at addresses " << a.from << " to " << a.to << std::endl;
    // Two devices at one address is a fault on the line to be mended, not a scan that worked.
    ctx.status = outcome.found.empty() || !outcome.twoAnswers.empty() ? kExitDevice : kExitOk;
}

registers::ParameterJob JobFor(const GlobalOptions& o) {
    registers::ParameterJob job;
    job.address = o.address;
    job.cancelled = [] { return g_interrupted.load(); };
    return job;
}

ParameterSet ReadFromDevice(Session& s, const GlobalOptions& o, const registers::Definitions& defs,
                            int type, const std::string& nothingDone) {
    BorrowedPort port(s);
    CatchInterrupts();
    try {
        return registers::ReadParameterSet(port.link, JobFor(o), defs, type, VINDELOR_VERSION);
    } catch (const registers::ParameterError& e) {
        throw CommandError{kExitDevice, std::string(e.what()) + nothingDone};
    }
}

void SaveCommand(CommandContext& ctx, const ParamArgs& a) {
    const int type = DeviceTypeOf(ctx.options.type);
    const auto pd = LoadDefinitions(type, ctx.options.alt, kExitUsage);
    Session s(ctx.options);
    const ParameterSet set = ReadFromDevice(s, ctx.options, pd.defs, type, "; nothing was saved");
    if (const std::string error = registers::WriteParameterFile(a.file, set); !error.empty())
        throw CommandError{kExitDevice, error};
    std::cout << "Saved " << Registers(set.entries.size()) << " of the " << set.deviceType
              << " at address " << set.address << " to " << a.file << std::endl;
}

ParameterSet ReadFile(const std::string& path, int status, const std::string& nothingDone = "") {
    ParameterSet set;
    std::string error;
    if (!registers::ReadParameterFile(path, set, error))
        throw CommandError{status, error + nothingDone};
    return set;
}

std::string EntryText(const std::optional<registers::ParameterEntry>& e) {
    return e ? e->valueText() : "(none)";
}

std::string EntryJson(const std::optional<registers::ParameterEntry>& e) {
    if (!e) return "null";
    return util::JsonObject()
        .text("type", registers::TypeKeyword(e->type))
        .integer("raw", e->raw)
        .text("text", e->valueText())
        .str();
}

// What the device holds now in a register a restore writes.
std::string DeviceValue(const registers::RestoreStep& step) {
    registers::ParameterEntry now = step.entry;
    now.raw = step.deviceRaw;
    return now.valueText();
}

std::string RegisterLabel(int number, const std::string& name) {
    return util::Format("%3d:%-15s", number, name.c_str());
}

void DiffCommand(CommandContext& ctx, const ParamArgs& a) {
    // As diff: 0 equal, 1 different, 2 trouble.
    try {
        const ParameterSet left = ReadFile(a.file, kExitUsage);
        const bool twoFiles = !a.file2.empty();
        ParameterSet right;
        int type = 0;
        if (twoFiles) {
            right = ReadFile(a.file2, kExitUsage);
            if (right.deviceType != left.deviceType)
                throw CommandError{kExitUsage, a.file + " holds a " + left.deviceType + " set, " +
                                                   a.file2 + " a " + right.deviceType + " set"};
            type = DeviceTypeOf(left.deviceType);
        } else {
            type = DeviceTypeOf(ctx.options.type);
            if (left.deviceType != ctx.options.type)
                throw CommandError{kExitUsage, a.file + " holds a " + left.deviceType +
                                                   " set; the device is read as a " +
                                                   ctx.options.type + " (--type)"};
        }
        std::unique_ptr<registers::ParameterDefinitions> pd;
        if (!a.all || !twoFiles)
            pd = std::make_unique<registers::ParameterDefinitions>(
                LoadDefinitions(type, ctx.options.alt, kExitUsage));
        if (!a.all && !pd->restoreError.empty())
            throw CommandError{kExitUsage,
                               pd->restoreError + " (--all compares every register without it)"};
        if (!twoFiles) {
            Session s(ctx.options);
            right = ReadFromDevice(s, ctx.options, pd->defs, type, "");
        }
        const auto diffs =
            registers::CompareParameterSets(left, right, a.all ? nullptr : &pd->restore.numbers);
        const std::string rightLabel = twoFiles ? "file2" : "device";
        if (ctx.json) {
            std::vector<std::string> items;
            for (const auto& d : diffs)
                items.push_back(util::JsonObject()
                                    .text1252("name", d.name)
                                    .integer("number", d.number)
                                    .value("file", EntryJson(d.left))
                                    .value(rightLabel, EntryJson(d.right))
                                    .str());
            std::cout << util::JsonObject()
                             .text("file", a.file)
                             .text(rightLabel, twoFiles ? a.file2
                                                        : std::string("address ") +
                                                              std::to_string(ctx.options.address))
                             .text("compared", a.all ? "all" : "restorable")
                             .boolean("equal", diffs.empty())
                             .value("differences", util::JsonArray(items))
                             .str()
                      << std::endl;
        } else {
            for (const auto& d : diffs)
                std::cout << RegisterLabel(d.number, d.name) << " file " << EntryText(d.left)
                          << "  " << rightLabel << " " << EntryText(d.right) << "\n";
            std::cout.flush();
        }
        ctx.status = diffs.empty() ? kExitOk : kExitDevice;
    } catch (const CommandError& e) {
        throw CommandError{kExitUsage, e.message};
    } catch (const std::exception& e) {
        throw CommandError{kExitUsage, e.what()};
    }
}

void RestoreCommand(CommandContext& ctx, const ParamArgs& a) {
    const std::string nothing = "; nothing was written to the device";
    const int type = DeviceTypeOf(ctx.options.type);
    // Everything that can be checked without the device is checked before the port opens.
    const ParameterSet file = ReadFile(a.file, kExitDevice, nothing);
    const auto pd = LoadDefinitions(type, ctx.options.alt, kExitUsage);
    if (!pd.restoreError.empty()) throw CommandError{kExitUsage, pd.restoreError + nothing};
    if (const std::string why = registers::CheckSetFitsDefinitions(file, pd.defs, type);
        !why.empty())
        throw CommandError{kExitDevice, a.file + ": " + why + nothing};

    Session s(ctx.options);
    const ParameterSet device = ReadFromDevice(s, ctx.options, pd.defs, type, nothing);
    if (file.firmware != device.firmware) {
        const std::string text = a.file + " was saved from firmware " +
                                 (file.firmware.empty() ? "(unknown)" : file.firmware) +
                                 "; the device runs " +
                                 (device.firmware.empty() ? "(unknown)" : device.firmware);
        if (!a.force)
            throw CommandError{kExitDevice, text + nothing + " (--force restores it all the same)"};
        std::cerr << "Warning: " << text << std::endl;
    }
    const auto steps = registers::PlanRestore(file, device, pd.restore.numbers);
    // What differs but is not the restore's to write is said, never passed over in silence.
    std::string kept;
    for (const auto& d : registers::CompareParameterSets(file, device))
        if (d.left && d.right && !pd.restore.numbers.count(d.number))
            kept += (kept.empty() ? "" : ", ") + d.name;
    if (!kept.empty())
        std::cerr << "Not in " << pd.restore.path << ", left as the device has them: " << kept
                  << std::endl;

    for (const auto& step : steps)
        std::cout << (a.dryRun ? "would write " : "write ")
                  << RegisterLabel(step.entry.number, step.entry.name) << " " << DeviceValue(step)
                  << " -> " << step.entry.valueText() << "\n";
    std::cout.flush();
    if (a.dryRun) {
        std::cout << Registers(steps.size()) << " to write; nothing was written (--dry-run)"
                  << std::endl;
        return;
    }

    BorrowedPort port(s);
    const auto failures = registers::RunRestore(port.link, JobFor(ctx.options), steps);
    if (!failures.empty()) {
        for (const auto& f : failures) std::cerr << f.text() << std::endl;
        throw CommandError{kExitDevice, "Restore failed: " + std::to_string(failures.size()) +
                                            " of " + std::to_string(steps.size()) +
                                            " registers did not read back right" +
                                            (a.flash ? "; nothing was written to flash" : "")};
    }
    if (a.flash) port.link.command(ctx.options.address, protocol::Cmd::WriteFlash);
    std::cout << "Restored " << Registers(steps.size()) << ", each read back"
              << (a.flash ? ", and wrote them to flash" : "") << std::endl;
}

}  // namespace

void AddParameterCommands(CLI::App& app, CommandContext& ctx) {
    auto args = std::make_shared<ParamArgs>();

    auto* scan = app.add_subcommand("scan",
                                    "Ask every address for its FIRMWARE register; print a line per "
                                    "device: address, firmware, type");
    scan->add_option("--from", args->from, "First address")->capture_default_str();
    scan->add_option("--to", args->to, "Last address (255 reaches every device at once)")
        ->capture_default_str();
    scan->add_option("--timeout-ms", args->marginMs,
                     "Wait at each address beyond the line time of the request and the reply")
        ->capture_default_str();
    AddJsonFlag(scan, ctx);
    scan->callback([&ctx, args] { ScanCommand(ctx, *args); });

    auto* params = app.add_subcommand(
        "params", "Save, compare and restore the parameters of the device at --address");
    params->require_subcommand(1);

    auto* save = params->add_subcommand(
        "save", "Read every register the definitions name and write them to FILE");
    save->add_option("file", args->file, "Parameter file (replaced safely)")->required();
    save->callback([&ctx, args] { SaveCommand(ctx, *args); });

    auto* diff = params->add_subcommand("diff",
                                        "Print the registers in which FILE and the device (or "
                                        "FILE2) differ; status 0 equal, 1 different, 2 trouble");
    diff->add_option("file", args->file, "Parameter file")->required();
    diff->add_option("file2", args->file2, "Second parameter file, instead of the device");
    diff->add_flag("--all", args->all,
                   "Compare every register, not only those the restore list names");
    AddJsonFlag(diff, ctx);
    diff->callback([&ctx, args] { DiffCommand(ctx, *args); });

    auto* restore = params->add_subcommand("restore",
                                           "Write the registers of FILE that the restore list "
                                           "allows and the device holds otherwise, then "
                                           "read each back");
    restore->add_option("file", args->file, "Parameter file saved from a device of the same type")
        ->required();
    restore->add_flag("--dry-run", args->dryRun, "Print what would be written and write nothing");
    restore->add_flag("--flash", args->flash,
                      "After a restore that read back right, write the registers to flash");
    restore->add_flag("--force", args->force, "Restore a file saved from other firmware");
    restore->callback([&ctx, args] { RestoreCommand(ctx, *args); });
}

}  // namespace vindelor::cli
