#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "registers/Definitions.h"

namespace vindelor::registers {

// Which registers a restore may write: a data file per device type beside the definition files
// ("tambrel_restore.dat" for a VX20-95, ...), shipped with the tool and open to the user's
// editor. One register name a line, as the definitions name it; '#' starts a comment, blank
// lines are skipped. The shipped lists hold the settings of a drive and leave out what must
// never come back from a file: measured values, status, identity (firmware, serial number),
// and what moves the motor (set-points, the operating mode), as well as the address and baud
// rate, which would cut the line to the device in the middle of a restore.
const char* RestoreListFile(int deviceType);

struct RestoreList {
    std::string path;       // the file it came from
    std::set<int> numbers;  // register numbers a restore may write
};

// The numbers of the registers a list names. A name the definitions do not hold, a placeholder
// and a version word (the firmware) are errors; the message names the line ("line 4: ...").
bool ParseRestoreList(std::string_view text, const Definitions& defs, std::set<int>& numbers,
                      std::string& error);

// The list of the device type from the first folder that holds it. On failure error is one
// line naming the file ("FILE:4: ..."), or the folders it was looked for in.
bool LoadRestoreList(int deviceType, const Definitions& defs,
                     const std::vector<std::string>& folders, RestoreList& list,
                     std::string& error);

}  // namespace vindelor::registers
