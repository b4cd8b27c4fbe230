#pragma once

#include <CLI/CLI.hpp>

#include <charconv>
#include <string>

namespace vindelor::registers {
struct Definitions;
}

namespace vindelor::cli {

// Exit statuses of vindelor-cli.
enum ExitStatus : int {
    kExitOk = 0,
    kExitDevice = 1,  // no answer in time, a wrong answer, a bad input file
    kExitUsage = 2,   // usage error, or a port that cannot be opened
};

// The options every command shares.
struct GlobalOptions {
    std::string port = "COM1";
    int baud = 19200;
    int address = 255;
    int group = 1;
    bool echo = false;
    std::string type = "VX20-95";  // device type, for the register definitions
    bool alt = false;              // alternative definition files
    std::string trace;             // traffic trace file, empty for none
};

// A command's result: the exit status, set by whichever command ran.
struct CommandContext {
    GlobalOptions options;
    bool json = false;  // --json of the commands that offer machine-readable output
    int status = kExitOk;
};

// --json on a command: one JSON object on stdout, or one a line for repeated output.
inline void AddJsonFlag(CLI::App* command, CommandContext& ctx) {
    command->add_flag("--json", ctx.json, "Print JSON: one object, or one a line for repeated output (see README)");
}

// A whole number of at least `min`, refused with a message that says so (the library's own
// range checks print the limits of a double).
inline CLI::Validator AtLeast(long long min) {
    return CLI::Validator(
        [min](std::string& text) -> std::string {
            long long v = 0;
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
            if (error != std::errc() || end != text.data() + text.size()) return "not a whole number: " + text;
            if (v < min) return text + " is too small; the least is " + std::to_string(min);
            return {};
        },
        min == 0 ? "NONNEGATIVE" : min == 1 ? "POSITIVE" : "AT LEAST " + std::to_string(min));
}

// Each subsystem adds its commands to the application; the callbacks set ctx.status.
void AddRegisterCommands(CLI::App& app, CommandContext& ctx);
void AddFirmwareCommands(CLI::App& app, CommandContext& ctx);
void AddProgramCommands(CLI::App& app, CommandContext& ctx);
void AddTraceCommands(CLI::App& app, CommandContext& ctx);
void AddScopeCommands(CLI::App& app, CommandContext& ctx);
void AddLargeMotorCommands(CLI::App& app, CommandContext& ctx);

// vindelor-cli firmware FILE: a module firmware update; sets ctx.status (0 after "Done").
// timeoutSeconds > 0 ends the update after that long, as Ctrl+C does ("Aborted!", status 1).
void FirmwareUpdateCommand(CommandContext& ctx, const std::string& file, double timeoutSeconds = 0);
void AddModuleCommands(CLI::App& app, CommandContext& ctx);
// scan, and params save / diff / restore.
void AddParameterCommands(CLI::App& app, CommandContext& ctx);

// The group write of the group-write module's tab: an explicit group and sequence, the value as
// a plain integer, its width from the register's definition. Prints the next sequence.
void ModuleGroupWrite(CommandContext& ctx, const registers::Definitions& defs, const std::string& reg,
                      const std::string& value, const std::string& group, int sequence);

// An error to report on stderr with the given exit status.
struct CommandError {
    int status;
    std::string message;
};

}  // namespace vindelor::cli
