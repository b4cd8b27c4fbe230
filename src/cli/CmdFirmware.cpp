#include "cli/Cli.h"

namespace vindelor::cli {

void AddFirmwareCommands(CLI::App& /*app*/, CommandContext& /*ctx*/) {}

}  // namespace vindelor::cli
