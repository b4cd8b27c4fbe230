// vindelor-cli: the tool's core from a terminal, for scripts and production lines.
#include <iostream>

#include "cli/Cli.h"
#include "cli/Trace.h"
#include "util/Licence.h"

int main(int argc, char** argv) {
    using namespace vindelor::cli;
    CLI::App app {"Vindelor command line: register access and tools over one serial port."};
    app.set_version_flag("--version", std::string("vindelor-cli ") + VINDELOR_VERSION + "\n" +
                                          vindelor::util::kCopyrightLine + "\n" + vindelor::util::kLicenceLines);
    app.footer(
        "Register definition files are read from the current folder. When it holds none for the\n"
        "device type, they come from $XDG_DATA_HOME/vindelor/defs (~/.local/share/vindelor/defs),\n"
        "then from the folder installed with the program (/usr/share/vindelor/defs from the package).");
    app.require_subcommand(1);

    CommandContext ctx;
    auto& o = ctx.options;
    app.add_option("--port", o.port, "COMn (see 'ports') or a device path")->capture_default_str();
    app.add_option("--baud", o.baud, "Baud rate")->capture_default_str();
    app.add_option("--address", o.address, "Device address")->capture_default_str();
    app.add_option("--group", o.group, "Group number for group writes")->capture_default_str();
    app.add_flag("--echo", o.echo, "Print the bytes sent and received as <XX> items on stderr");
    app.add_option("--type", o.type, "Device type: VX20-95, VX300/700, KT42 or KT56 (selects the "
                                     "register definition files)")
        ->capture_default_str();
    app.add_flag("--alt", o.alt, "Use the alternative register definition file");
    app.add_option("--trace", o.trace, "Write every byte sent and received to FILE, one frame a line (see README)");
    // Before the command runs, so that it sees every byte.
    app.parse_complete_callback([&o] {
        if (!o.trace.empty()) StartTrace(o.trace, "vindelor-cli port " + o.port + " baud " + std::to_string(o.baud));
    });

    AddRegisterCommands(app, ctx);
    AddFirmwareCommands(app, ctx);
    AddProgramCommands(app, ctx);
    AddTraceCommands(app, ctx);
    AddScopeCommands(app, ctx);
    AddLargeMotorCommands(app, ctx);
    AddModuleCommands(app, ctx);
    AddParameterCommands(app, ctx);

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
