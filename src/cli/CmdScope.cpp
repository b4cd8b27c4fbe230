// The scope from the command line: the four sampled registers, sampled back to back for a
// while, written as CSV; with a trigger, the rows around the moment a channel goes through a
// level.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "cli/Cli.h"
#include "cli/Session.h"
#include "registers/DefinitionFolders.h"
#include "registers/Scope.h"
#include "registers/ScopeTrigger.h"
#include "registers/ValueType.h"
#include "serial/LineTime.h"
#include "util/Number.h"
#include "util/SafeFile.h"

namespace vindelor::cli {

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSelectorTimeoutMs = 1000;

std::atomic<bool> g_stop{false};
void OnStop(int) {
    g_stop = true;
}

struct ScopeArgs {
    double seconds = 10;
    std::string csv;
    bool reconnect = false;
    std::string trigger;
    double pre = 0;
    double wait = 0;  // 0: no limit
};

Clock::duration Seconds(double s) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

// Reads the four sample selectors; their values name the registers sampled into each channel.
std::array<std::uint32_t, registers::kScopeChannels> ReadSelectors(
    Session& s, const registers::Definitions& defs) {
    std::array<std::uint32_t, registers::kScopeChannels> selectors{};
    for (int c = 0; c < registers::kScopeChannels; ++c) {
        const int reg = defs.sampleBase + c;
        selectors[static_cast<std::size_t>(c)] =
            s.readRegisterAlone(reg, "sample selector " + std::to_string(reg), kSelectorTimeoutMs);
    }
    return selectors;
}

// The trigger that --trigger names among the channels the selectors chose.
registers::TriggerSetup TriggerFor(
    const ScopeArgs& a,
    const std::array<registers::ScopeChannel, registers::kScopeChannels>& channels) {
    std::string error;
    const auto text = registers::ParseTriggerText(a.trigger, error);
    if (!text) throw CommandError{kExitUsage, "--trigger: " + error};
    const int channel = registers::FindScopeChannel(channels, text->channel);
    if (channel < 0 || channels[static_cast<std::size_t>(channel)].type == registers::Dummy) {
        std::string names;
        for (const auto& ch : channels)
            if (ch.type != registers::Dummy) names += (names.empty() ? "" : ", ") + ch.name;
        throw CommandError{kExitUsage, "--trigger: " + text->channel +
                                           " is not sampled; the sampled registers are " +
                                           (names.empty() ? std::string("none") : names)};
    }
    registers::TriggerSetup setup;
    setup.channel = channel;
    setup.level = text->level;
    setup.edge = text->edge;
    setup.preSeconds = a.pre;
    setup.postSeconds = a.seconds;
    return setup;
}

std::string TriggerDescription(const registers::TriggerSetup& t, const std::string& channel) {
    return channel + (t.edge == registers::TriggerEdge::Rising ? " rising" : " falling") +
           " through " + util::ShortestText(t.level);
}

void ScopeCommand(CommandContext& ctx, const ScopeArgs& a) {
    const auto type = registers::DeviceTypeFromName(ctx.options.type);
    if (!type) throw CommandError{kExitUsage, "Unknown device type " + ctx.options.type};
    registers::Definitions defs;
    // Found where the other commands find them: the current folder first.
    std::vector<std::string> folders{"."};
    const auto fallback = registers::FallbackDefinitionFolders();
    folders.insert(folders.end(), fallback.begin(), fallback.end());
    std::string usedFolder;
    const auto loaded =
        registers::LoadFromFolders(defs, *type, ctx.options.alt, folders, usedFolder);
    if (!loaded.errors.empty() || !loaded.registersLoaded)
        throw CommandError{
            kExitUsage,
            "No usable register definitions for " + ctx.options.type + " (" +
                (loaded.errors.empty() ? std::string("none found") : loaded.errors.front()) + ")"};

    Session s(ctx.options);
    registers::ScopeRecording rec;
    rec.wordsPerRegister = defs.wordsPerRegister;
    rec.channels = registers::ScopeChannelsFor(defs, ReadSelectors(s, defs));

    // With a trigger, only the bounded pre-trigger history is kept until it comes.
    std::optional<registers::ScopeTrigger> trigger;
    std::string triggerText;
    if (!a.trigger.empty()) {
        trigger.emplace(TriggerFor(a, rec.channels));
        triggerText = TriggerDescription(
            trigger->setup(),
            rec.channels[static_cast<std::size_t>(trigger->setup().channel)].name);
        std::cerr << "Waiting for " << triggerText << std::endl;
    }

    g_stop = false;
    std::signal(SIGINT, OnStop);
    std::signal(SIGTERM, OnStop);

    // Without --csv the rows go to stdout as they arrive; a file is written whole at the end.
    const bool toStdout = a.csv.empty();
    if (toStdout && !trigger) {
        rec.writeCsvHeader(std::cout);
        std::cout.flush();
    }

    registers::SampleLoop loop;
    const auto start = Clock::now();
    // When the run ends: after --seconds; with a trigger, at the first row past --seconds after
    // it (so the capture covers that time whole), or a reply time-out later when none comes; or
    // --wait after the pre-trigger history is in while none has come (never without --wait).
    auto end = [&]() -> std::optional<Clock::time_point> {
        if (!trigger) return start + Seconds(a.seconds);
        if (trigger->triggers() > 0)
            return start + Seconds(trigger->captureEnd()) +
                   std::chrono::milliseconds(registers::SampleLoop::kReplyTimeoutMs);
        if (a.wait > 0) return start + Seconds(a.pre + a.wait);
        return std::nullopt;
    };
    std::size_t written = 0;  // rows of the capture on stdout
    // A reply in by the end of the run, or later but within the time-out of the request that
    // was out then, belongs to the run; one later than that to nobody.
    // Rows go on only once their reply is known to have come alone (AloneRows).
    registers::AloneRows alone;
    auto accept = [&](const registers::ScopeRow& row) {
        if (!trigger) {
            rec.addRow(row);
            if (toStdout) {
                registers::ScopeRecording::writeCsvRow(std::cout, row);
                std::cout.flush();
            }
            return;
        }
        if (trigger->add(row) == registers::ScopeTrigger::Event::Triggered && toStdout)
            rec.writeCsvHeader(std::cout);
        if (toStdout && trigger->triggers() > 0) {
            const auto& rows = trigger->capture();
            for (; written < rows.size(); ++written)
                registers::ScopeRecording::writeCsvRow(std::cout, rows[written]);
            std::cout.flush();
        }
    };
    auto acceptTaken = [&] {
        for (const auto& row : alone.take()) accept(row);
    };
    auto take = [&](const protocol::ReceivedMessage& m) {
        const auto stop = end();
        if (stop && m.at >= *stop && !loop.inTime(m.at)) return false;
        loop.replied(m.at);
        alone.replied(rec.makeRow(std::chrono::duration<double>(m.at - start).count(), m.payload));
        return true;
    };
    auto done = [&] { return trigger && trigger->state() == registers::ScopeTrigger::State::Done; };
    while (!g_stop && !done()) {
        const auto now = Clock::now();
        const auto stop = end();
        if (stop && now >= *stop) break;
        if (s.portLost()) {
            if (!a.reconnect) throw CommandError{kExitDevice, LostPortText(s)};
            if (!s.reconnect([&] {
                    const auto e = end();
                    return g_stop.load() || (e && Clock::now() >= *e);
                }))
                break;
            continue;  // the request lost with the port counts as timed out
        }
        if (loop.due(now)) {
            // A reply still queued now came after its own request's reply had been taken: a
            // second answer, whose window already counts it. It is nobody's row.
            for (const auto& stale : s.sink().drain())
                if (stale.number == protocol::MsgSampleRow) alone.discard();
            alone.sent(s.receiveThread().Count());
            acceptTaken();
            try {
                s.sender().SendCommand(protocol::Cmd::Sample);
            } catch (const serial::TSerErr&) {
                // A write that fails on a hang-up: the receive thread ends on it too, and the
                // next turn of the loop sees the port lost.
            }
            loop.sent(now);
        }
        auto wait = loop.untilDue(Clock::now());
        if (stop) wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(*stop - now));
        auto m = s.sink().take(protocol::MsgSampleRow, wait);
        if (m && !take(*m)) break;
    }
    // The request still out when the run ends gets its reply or its time-out: every sample
    // reply the device sent in time is in the output (and in a trace of the run).
    while (!loop.due(Clock::now()) && !s.portLost()) {
        auto m = s.sink().take(protocol::MsgSampleRow, loop.untilDue(Clock::now()));
        if (!m || !take(*m)) break;
    }
    // The last reply too must have come alone: the line stays quiet a reply's line time and a
    // turnaround after it.
    std::this_thread::sleep_for(serial::QuietAfterReply(
        static_cast<std::size_t>(
            protocol::RecvThread::ReplyFrameBytes(protocol::MsgSampleRow, registers::kScopeChannels * 4)),
        s.port().GetBaudRate()));
    alone.finish(s.receiveThread().Count());
    acceptTaken();
    if (alone.dropped() > 0)
        std::cerr << "Dropped " << alone.dropped() << (alone.dropped() == 1 ? " sample" : " samples")
                  << " whose reply came with another or with stray bytes (a second device at the "
                     "address, or a bad line); they are gaps in the rows"
                  << std::endl;
    s.flushSendEcho();

    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    if (trigger && trigger->triggers() == 0) {
        std::string why = "No trigger: " + triggerText;
        if (loop.replies == 0)
            why += " (no answer from the device to the sample command)";
        else if (!g_stop)
            why += " within " + util::ShortestText(a.wait) + " s";
        throw CommandError{kExitDevice, why};
    }
    if (!toStdout) {
        std::ostringstream csv;
        rec.writeCsvHeader(csv);
        for (const auto& row : trigger ? trigger->capture() : rec.rows())
            registers::ScopeRecording::writeCsvRow(csv, row);
        const std::string error = util::WriteFileSafely(a.csv, csv.str());
        if (!error.empty()) throw CommandError{kExitDevice, error};
    }
    if (trigger) {
        const auto& rows = trigger->capture();
        std::cerr << rows.size() << " rows from " << util::FixedText(rows.front().seconds, 3)
                  << " s to " << util::FixedText(rows.back().seconds, 3)
                  << " s around the trigger at " << util::FixedText(trigger->triggerSeconds(), 3)
                  << " s: " << util::FixedText(loop.rate(), 1) << " rows/s, " << loop.requests
                  << " requests, " << loop.timeouts << " timed out" << std::endl;
        return;
    }
    std::cerr << rec.rows().size() << " rows in " << util::FixedText(elapsed, 3)
              << " s: " << util::FixedText(rec.rate(), 1) << " rows/s, " << loop.requests
              << " requests, " << loop.timeouts << " timed out" << std::endl;
    if (rec.rows().empty())
        throw CommandError{kExitDevice, "No answer from the device to the sample command"};
}

}  // namespace

void AddScopeCommands(CLI::App& app, CommandContext& ctx) {
    auto args = std::make_shared<ScopeArgs>();
    auto* scope = app.add_subcommand(
        "scope", "Sample the four selected registers back to back and write CSV");
    scope
        ->add_option("--seconds", args->seconds,
                     "How long to sample; with --trigger, how long after the trigger")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    scope->add_option("--csv", args->csv, "Write the CSV to FILE instead of stdout");
    scope->add_flag("--reconnect", args->reconnect,
                    "When the port is lost, wait for it to return and go on");
    auto* trigger = scope->add_option(
        "--trigger", args->trigger,
        "Start at the first row where a sampled register goes through a level: "
        "'NAME>LEVEL' rising, 'NAME<LEVEL' falling (NAME a register or channel 1-4); "
        "times are then seconds from that row, negative before it");
    trigger->type_name("NAME>LEVEL");
    scope->add_option("--pre", args->pre, "Seconds of rows before the trigger to write too")
        ->check(CLI::NonNegativeNumber)
        ->needs(trigger)
        ->capture_default_str();
    scope
        ->add_option(
            "--wait", args->wait,
            "Give up with status 1 when no trigger came S seconds after the --pre history was in "
            "(default: wait until interrupted)")
        ->check(CLI::PositiveNumber)
        ->needs(trigger);
    scope->callback([&ctx, args] { ScopeCommand(ctx, *args); });
}

}  // namespace vindelor::cli
