// The scope from the command line: the four sampled registers, sampled back to back for a
// while, written as CSV.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>

#include "cli/Cli.h"
#include "cli/Session.h"
#include "registers/DefinitionFolders.h"
#include "registers/Scope.h"
#include "registers/ValueType.h"
#include "util/Number.h"
#include "util/SafeFile.h"

namespace vindelor::cli {

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSelectorTimeoutMs = 1000;

std::atomic<bool> g_stop {false};
void OnStop(int) { g_stop = true; }

struct ScopeArgs {
    double seconds = 10;
    std::string csv;
    bool reconnect = false;
};

// Reads the four sample selectors; their values name the registers sampled into each channel.
std::array<std::uint32_t, registers::kScopeChannels> ReadSelectors(Session& s, const registers::Definitions& defs) {
    std::array<std::uint32_t, registers::kScopeChannels> selectors {};
    for (int c = 0; c < registers::kScopeChannels; ++c) {
        const int reg = defs.sampleBase + c;
        s.sender().SendReadRequest(static_cast<std::uint8_t>(reg));
        auto v = s.awaitRegister(reg, kSelectorTimeoutMs);
        if (!v) throw CommandError {kExitDevice, "No answer from the device to the read of sample selector " + std::to_string(reg)};
        selectors[static_cast<std::size_t>(c)] = *v;
    }
    return selectors;
}

void ScopeCommand(CommandContext& ctx, const ScopeArgs& a) {
    const auto type = registers::DeviceTypeFromName(ctx.options.type);
    if (!type) throw CommandError {kExitUsage, "Unknown device type " + ctx.options.type};
    registers::Definitions defs;
    // Found where the other commands find them: the current folder first.
    std::vector<std::string> folders {"."};
    const auto fallback = registers::FallbackDefinitionFolders();
    folders.insert(folders.end(), fallback.begin(), fallback.end());
    std::string usedFolder;
    const auto loaded = registers::LoadFromFolders(defs, *type, ctx.options.alt, folders, usedFolder);
    if (!loaded.errors.empty() || !loaded.registersLoaded)
        throw CommandError {kExitUsage, "No usable register definitions for " + ctx.options.type + " (" +
                                            (loaded.errors.empty() ? std::string("none found") : loaded.errors.front()) + ")"};

    Session s(ctx.options);
    registers::ScopeRecording rec;
    rec.wordsPerRegister = defs.wordsPerRegister;
    rec.channels = registers::ScopeChannelsFor(defs, ReadSelectors(s, defs));

    g_stop = false;
    std::signal(SIGINT, OnStop);
    std::signal(SIGTERM, OnStop);

    // Without --csv the rows go to stdout as they arrive; a file is written whole at the end.
    const bool toStdout = a.csv.empty();
    if (toStdout) {
        rec.writeCsvHeader(std::cout);
        std::cout.flush();
    }

    registers::SampleLoop loop;
    const auto start = Clock::now();
    auto take = [&](const protocol::ReceivedMessage& m) {
        loop.replied();
        const auto& row = rec.addRow(std::chrono::duration<double>(Clock::now() - start).count(), m.payload);
        if (toStdout) {
            registers::ScopeRecording::writeCsvRow(std::cout, row);
            std::cout.flush();
        }
    };
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(a.seconds));
    while (!g_stop) {
        const auto now = Clock::now();
        if (now >= end) break;
        if (s.portLost()) {
            if (!a.reconnect) throw CommandError {kExitDevice, LostPortText(s)};
            if (!s.reconnect([&] { return g_stop.load() || Clock::now() >= end; })) break;
            continue;  // the request lost with the port counts as timed out

        }
        if (loop.due(now)) {
            try {
                s.sender().SendCommand(protocol::Cmd::Sample);
            } catch (const serial::TSerErr&) {
                // A write that fails on a hang-up: the receive thread ends on it too, and the
                // next turn of the loop sees the port lost.
            }
            loop.sent(now);
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - now);
        auto m = s.sink().take(protocol::MsgSampleRow, std::min(left, loop.untilDue(Clock::now())));
        if (m) take(*m);
    }
    // The request still out when the run ends gets its reply or its time-out: every sample
    // reply the device sent is in the output (and in a trace of the run).
    while (!loop.due(Clock::now()) && !s.portLost()) {
        auto m = s.sink().take(protocol::MsgSampleRow, loop.untilDue(Clock::now()));
        if (!m) break;
        take(*m);
    }
    s.flushSendEcho();

    if (!toStdout) {
        std::ostringstream csv;
        rec.writeCsv(csv);
        const std::string error = util::WriteFileSafely(a.csv, csv.str());
        if (!error.empty()) throw CommandError {kExitDevice, error};
    }
    std::cerr << rec.rows().size() << " rows in " << util::FixedText(std::chrono::duration<double>(Clock::now() - start).count(), 3)
              << " s: " << util::FixedText(rec.rate(), 1) << " rows/s, " << loop.requests << " requests, " << loop.timeouts
              << " timed out" << std::endl;
    if (rec.rows().empty()) throw CommandError {kExitDevice, "No answer from the device to the sample command"};
}

}  // namespace

void AddScopeCommands(CLI::App& app, CommandContext& ctx) {
    auto args = std::make_shared<ScopeArgs>();
    auto* scope = app.add_subcommand("scope", "Sample the four selected registers back to back and write CSV");
    scope->add_option("--seconds", args->seconds, "How long to sample")->check(CLI::PositiveNumber)->capture_default_str();
    scope->add_option("--csv", args->csv, "Write the CSV to FILE instead of stdout");
    scope->add_flag("--reconnect", args->reconnect, "When the port is lost, wait for it to return and go on");
    scope->callback([&ctx, args] { ScopeCommand(ctx, *args); });
}

}  // namespace vindelor::cli
