#include "cli/Cli.h"

namespace vindelor::cli {

void AddProgramCommands(CLI::App& /*app*/, CommandContext& /*ctx*/) {}

}  // namespace vindelor::cli
