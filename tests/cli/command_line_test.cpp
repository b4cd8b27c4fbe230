// The command line itself: global options in every spelling before a command, and help.
#include <gtest/gtest.h>

#include <string>

#include "support/RunCli.h"

namespace vindelor::cli {
namespace {

using testing::CliRun;
using testing::RunCli;

struct CommandCase {
    const char* args;
    const char* usage;  // what the command's own help begins with
};

class CliCommandLine : public ::testing::TestWithParam<CommandCase> {};

// A run builds only the command it names, found past the global options: a flag must not swallow
// the command, an option's value must not be taken for one. Each command here has a word that is
// also another command's name ("write", "read", "list").
TEST_P(CliCommandLine, TheCommandIsFoundPastEveryKindOfGlobalOption) {
    const CommandCase& c = GetParam();
    CliRun r = RunCli(std::string(c.args) + " --help");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(c.usage), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Spellings, CliCommandLine,
    ::testing::Values(
        CommandCase{"--echo program write", "program write [OPTIONS]"},
        CommandCase{"--alt module read", "module read [OPTIONS]"},
        CommandCase{"--port=COM2 profi write", "profi write [OPTIONS]"},
        CommandCase{"--port COM2 --baud 9600 --address 3 --group 2 --type KT42 program list",
                    "program list [OPTIONS]"},
        CommandCase{"--type VX300/700 --echo --alt image info", "image info [OPTIONS]"}));

TEST(CliHelp, HelpWithoutACommandListsTheCommandsOfEveryKind) {
    CliRun r = RunCli("--help");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* command : {"read", "hex2bin", "firmware", "program", "trace-print", "scope",
                                "flash-read", "download", "poll", "rotate", "scan", "params"})
        EXPECT_NE(r.out.find(std::string("\n  ") + command + " "), std::string::npos) << command;
}

}  // namespace
}  // namespace vindelor::cli
