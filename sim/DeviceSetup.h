#pragma once

#include <string>

#include "sim/RegisterDevice.h"

namespace vindelor::sim {

// Makes the register device behave as a motor of the given type described by the standard
// definition files in folder: register widths, the sample selectors, a firmware version, and
// live values (a position that moves, a velocity, a temperature) where the names are known.
// Returns an empty string, or why the definitions could not be loaded.
std::string ConfigureAsMotor(RegisterDevice& device, int deviceType, const std::string& folder);

// The folder of the definition files that ship with the tool: the installed one beside the
// program, else defs/ of the source tree the program was built from, else the current folder.
std::string DefaultDefinitionsFolder();

}  // namespace vindelor::sim
