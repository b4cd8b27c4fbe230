#pragma once

#include <optional>
#include <string>
#include <vector>

#include "registers/Definitions.h"

namespace vindelor::registers {

// Where the window and the command line look for definition files, in order: the current
// folder (it always wins), the user's own folder, then the folder installed with the program.
// A folder is taken when it holds any file that the load of the chosen device type and format
// reads; later folders are not mixed in, so a half-edited set gives its own errors.

// $XDG_DATA_HOME/vindelor/defs, or ~/.local/share/vindelor/defs when XDG_DATA_HOME is unset or
// not an absolute path; empty when neither is known.
std::string UserDefinitionFolder(const char* xdgDataHome, const char* home);
// The folder installed with the program, relative to the program's own folder
// (bin/../share/vindelor/defs); empty when the program's folder is unknown.
std::string SharedDefinitionFolder();
// The user's folder and the shipped folder, as this process sees them: where to look when the
// current folder holds no definition files.
std::vector<std::string> FallbackDefinitionFolders();

// The files the load of a device type reads: the standard pair, or the alternative file.
std::vector<std::string> DefinitionFileNames(int deviceType, bool alt);
// The first folder holding any of those files; nothing when none does.
std::optional<std::string> FindDefinitionFolder(const std::vector<std::string>& folders, int deviceType, bool alt);

// Loads from the first folder that holds the files (the first folder of the list when none
// does) and tells which one that was. The error of a file that cannot be read goes on with a
// line naming the file and the folders it was looked for in.
LoadResult LoadFromFolders(Definitions& defs, int deviceType, bool alt, const std::vector<std::string>& folders,
                           std::string& usedFolder);

}  // namespace vindelor::registers
