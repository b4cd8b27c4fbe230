// vindelor-cli: the tool's core from a terminal, for scripts and production lines.
#include <initializer_list>
#include <iostream>
#include <string_view>

#include "cli/Cli.h"
#include "cli/Trace.h"
#include "util/Licence.h"

namespace {

using namespace vindelor::cli;
using AddFunction = void (*)(CLI::App&, CommandContext&);

// Which group of commands adds which command names. Building every command's options is most of
// the program's start-up, so a run builds only the group of the command it names. A name missing
// here still works (every group is built then); it only starts slower.
struct CommandGroup {
    AddFunction add;
    std::initializer_list<std::string_view> names;
};
const CommandGroup kCommandGroups[] = {
    {AddRegisterCommands,
     {"read", "write", "group-write", "list", "sample", "filter", "command", "monitor", "ports"}},
    {AddFirmwareCommands, {"hex2bin", "image", "firmware"}},
    {AddProgramCommands, {"program"}},
    {AddTraceCommands, {"trace-print"}},
    {AddScopeCommands, {"scope"}},
    {AddLargeMotorCommands,
     {"flash-read", "flash-write", "flash-baud", "flash-erase", "address-check", "bootloader",
      "download"}},
    {AddModuleCommands, {"poll", "module", "debug", "profi", "break-test", "rotate"}},
    {AddParameterCommands, {"scan", "params"}},
};

// The command the arguments name: the first word that is neither a global option nor the value
// of one. Empty when there is none: then help lists every command.
std::string_view CommandName(const CLI::App& app, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--version") return arg;  // needs no command at all
        if (arg.empty() || arg.front() != '-') return arg;
        if (arg.find('=') != std::string_view::npos) continue;
        const CLI::Option* option = app.get_option_no_throw(std::string(arg));
        if (option != nullptr && option->get_items_expected_max() > 0) ++i;  // its value follows
    }
    return {};
}

void AddCommands(CLI::App& app, CommandContext& ctx, std::string_view command) {
    for (const auto& group : kCommandGroups) {
        for (auto name : group.names) {
            if (name == command) {
                group.add(app, ctx);
                return;
            }
        }
    }
    if (command != "--version")
        for (const auto& group : kCommandGroups) group.add(app, ctx);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Vindelor command line: register access and tools over one serial port."};
    app.set_version_flag("--version", std::string("vindelor-cli ") + VINDELOR_VERSION + "\n" +
                                          vindelor::util::kCopyrightLine + "\n" +
                                          vindelor::util::kLicenceLines);
    app.footer(
        "Register definition files are read from the current folder. When it holds none for the\n"
        "device type, they come from $XDG_DATA_HOME/vindelor/defs (~/.local/share/vindelor/defs),\n"
        "then from the folder installed with the program (/usr/share/vindelor/defs from the "
        "package).");
    app.require_subcommand(1);

    CommandContext ctx;
    auto& o = ctx.options;
    app.add_option("--port", o.port, "COMn (see 'ports') or a device path")->capture_default_str();
    app.add_option("--baud", o.baud, "Baud rate")->capture_default_str();
    app.add_option("--address", o.address, "Device address")->capture_default_str();
    app.add_option("--group", o.group, "Group number for group writes")->capture_default_str();
    app.add_flag("--echo", o.echo, "Print the bytes sent and received as <XX> items on stderr");
    app.add_option("--type", o.type,
                   "Device type: VX20-95, VX300/700, KT42 or KT56 (selects the "
                   "register definition files)")
        ->capture_default_str();
    app.add_flag("--alt", o.alt, "Use the alternative register definition file");
    app.add_option("--trace", o.trace,
                   "Write every byte sent and received to FILE, one frame a line (see README)");
    // Before the command runs, so that it sees every byte.
    app.parse_complete_callback([&o] {
        if (!o.trace.empty())
            StartTrace(o.trace, "vindelor-cli port " + o.port + " baud " + std::to_string(o.baud));
    });

    AddCommands(app, ctx, CommandName(app, argc, argv));

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    } catch (const CommandError& e) {
        std::cerr << "vindelor-cli: " << e.message << std::endl;
        return e.status;
    } catch (const std::exception& e) {
        std::cerr << "vindelor-cli: " << e.what() << std::endl;
        return kExitDevice;
    }
    return ctx.status;
}
