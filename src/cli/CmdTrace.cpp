// The traffic trace from the command line: --trace FILE on every command, and trace-print.
#include <fstream>
#include <iostream>
#include <memory>

#include "cli/Cli.h"
#include "cli/Trace.h"
#include "protocol/TraceFile.h"
#include "protocol/TraceWriter.h"

namespace vindelor::cli {

namespace {

std::unique_ptr<protocol::TraceWriter>& Writer() {
    static std::unique_ptr<protocol::TraceWriter> writer;
    return writer;
}

// Finishes the trace when the program ends, however the command ended.
struct FinishAtExit {
    ~FinishAtExit() { FinishTrace(); }
};

void PrintCommand(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw CommandError {kExitDevice, "Cannot read " + path};
    std::string error;
    if (!protocol::PrintTrace(in, std::cout, error)) {
        std::cout.flush();
        throw CommandError {kExitDevice, path + ": " + error};
    }
}

}  // namespace

void StartTrace(const std::string& path, const std::string& description) {
    Writer();  // made first, so that it still exists when finishAtExit goes
    static FinishAtExit finishAtExit;
    std::string error;
    auto writer = protocol::TraceWriter::Create(path, description, error);
    if (!writer) throw CommandError {kExitUsage, "Cannot write the trace: " + error};
    Writer() = std::move(writer);
}

serial::TrafficTap* ActiveTrace() { return Writer().get(); }

void FinishTrace() {
    auto& w = Writer();
    if (!w) return;
    w->finish();
    if (w->failed()) std::cerr << "vindelor-cli: the trace " << w->path() << " is incomplete: a write failed" << std::endl;
    w.reset();
}

void AddTraceCommands(CLI::App& app, CommandContext& ctx) {
    auto path = std::make_shared<std::string>();
    auto* print = app.add_subcommand("trace-print", "Print a trace file (written with --trace) readably");
    print->add_option("file", *path, "Trace file")->required();
    print->callback([path] { PrintCommand(*path); });
    (void)ctx;
}

}  // namespace vindelor::cli
