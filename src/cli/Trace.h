#pragma once

#include <string>

#include "serial/TrafficTap.h"

namespace vindelor::cli {

// The traffic trace of one run of the program (--trace FILE): started before the command
// runs, handed to every port the command opens, finished when the program ends.
// Throws CommandError (status 2) when the file cannot be written.
void StartTrace(const std::string& path, const std::string& description);
// The running trace, or nullptr.
serial::TrafficTap* ActiveTrace();
// Writes out what waits and closes the file; a failed write is reported on stderr.
void FinishTrace();

}  // namespace vindelor::cli
