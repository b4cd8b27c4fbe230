// Module programs from the command line: build an image from the text form, list an image,
// and write one to the programmable module as the VARP tab's "Write Program" does.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <system_error>

#include "cli/Cli.h"
#include "cli/Session.h"
#include "program/Listing.h"
#include "program/ProgramText.h"
#include "program/TVarpCode.h"
#include "program/VarpError.h"
#include "program/VarpModule.h"
#include "util/SafeFile.h"

namespace vindelor::cli {

namespace {

struct ProgramArgs {
    std::string file;
    std::string output;
    std::string log = program::TVarpCode::kLogFileName;
};

// The whole file, or a CommandError (status 1) naming it.
std::vector<std::uint8_t> ReadInput(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw CommandError {kExitDevice, "Cannot read " + path + ": it is a folder"};
    std::vector<std::uint8_t> bytes;
    std::string reason;
    if (!util::ReadWholeFile(path, bytes, reason)) throw CommandError {kExitDevice, reason};
    return bytes;
}

void BuildCommand(const ProgramArgs& a) {
    const std::vector<std::uint8_t> text = ReadInput(a.file);
    std::vector<std::uint8_t> image;
    try {
        const program::ProgramText source =
            program::ParseProgramText(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
        image = program::AssembleProgram(source, a.log);
    } catch (const program::ProgramTextError& e) {
        throw CommandError {kExitDevice, a.file + ":" + std::to_string(e.Line) + ": " + e.Reason};
    } catch (const program::VarpError& e) {
        throw CommandError {kExitDevice, e.what()};
    }
    if (std::string reason = util::WriteFileSafely(a.output, image); !reason.empty())
        throw CommandError {kExitDevice, reason};
    std::cout << "Wrote " << image.size() << " bytes to " << a.output << std::endl;
}

void ListCommand(const ProgramArgs& a) {
    const std::vector<std::uint8_t> image = ReadInput(a.file);
    program::ImageCommands split;
    try {
        split = program::SplitImage(image);
    } catch (const program::VarpError& e) {
        throw CommandError {kExitDevice, e.what()};
    }
    for (std::size_t i = 0; i < split.commands.size(); ++i)
        std::cout << program::DumpLine(i, split.commands[i]) << '\n';
    std::cout.flush();
    if (split.truncated) {
        char address[8];
        std::snprintf(address, sizeof address, "%04X", split.commands.back().Address);
        throw CommandError {kExitDevice, "The image ends inside its last command, at address 0x" + std::string(address)};
    }
}

void WriteCommand(CommandContext& ctx, const ProgramArgs& a) {
    // The file is read before the port is opened: a file that cannot be read sends nothing.
    const std::vector<std::uint8_t> image = ReadInput(a.file);
    Session s(ctx.options);
    const std::size_t chunks = program::SendProgramImage(s.sender(), image, [&s](std::chrono::milliseconds ms) {
        s.flushSendEcho();
        program::SleepFor(ms);
    });
    s.flushSendEcho();
    std::cout << "Sent " << image.size() << " bytes in " << chunks << (chunks == 1 ? " chunk" : " chunks")
              << std::endl;
}

}  // namespace

void AddProgramCommands(CLI::App& app, CommandContext& ctx) {
    auto args = std::make_shared<ProgramArgs>();
    auto* program = app.add_subcommand("program", "Module programs: build from text, list, write to the module");
    program->require_subcommand(1);

    auto* build = program->add_subcommand("build",
                                          "Encode and optimise a program text (see \"Module "
                                          "programs: the program text\" in README.md) "
                                          "into a program image");
    build->add_option("file", args->file, "Program text")->required();
    build->add_option("-o,--output", args->output, "Program image to write")->required();
    build->add_option("--log", args->log, "Encoder log, written afresh")->capture_default_str();
    build->callback([args] { BuildCommand(*args); });

    auto* list = program->add_subcommand("list", "Print the listing of a program image, one command a line");
    list->add_option("file", args->file, "Program image")->required();
    list->callback([args] { ListCommand(*args); });

    auto* write = program->add_subcommand(
        "write", "Send a program image to the programmable module in 128-byte chunks, 50 ms apart");
    write->add_option("file", args->file, "Program image")->required();
    write->callback([&ctx, args] { WriteCommand(ctx, *args); });
}

}  // namespace vindelor::cli
