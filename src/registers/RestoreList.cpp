#include "registers/RestoreList.h"

#include <filesystem>
#include <system_error>

#include "registers/ValueType.h"
#include "util/SafeFile.h"
#include "util/Text.h"

namespace vindelor::registers {

namespace {
constexpr const char* kFiles[] = {"tambrel_restore.dat", "bigtambrel_restore.dat",
                                  "kt42_restore.dat", "kt56_restore.dat"};
}  // namespace

const char* RestoreListFile(int deviceType) {
    return kFiles[deviceType >= VX20_95 && deviceType <= KT56 ? deviceType - 1 : 0];
}

bool ParseRestoreList(std::string_view text, const Definitions& defs, std::set<int>& numbers,
                      std::string& error) {
    const auto lines = SplitLines(std::string(text));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view name = util::Trimmed(lines[i]);
        if (name.empty() || name[0] == '#') continue;
        const std::string where = "line " + std::to_string(i + 1) + ": ";
        const int number = defs.findRegisterByName(std::string(name));
        const int index = defs.findRegisterIndex(number);
        if (number < 0 || index < 0) {
            error = where + std::string(name) + " is no register of the definitions";
            return false;
        }
        const int type = defs.registerTable[static_cast<std::size_t>(index)].type;
        if (type == Dummy) {
            error = where + std::string(name) + " is a placeholder without a value";
            return false;
        }
        if (type == Version) {
            error = where + std::string(name) + " is a version word, which a restore never writes";
            return false;
        }
        numbers.insert(number);
    }
    return true;
}

bool LoadRestoreList(int deviceType, const Definitions& defs,
                     const std::vector<std::string>& folders, RestoreList& list,
                     std::string& error) {
    const std::string name = RestoreListFile(deviceType);
    std::string where;
    for (const std::string& folder : folders) {
        const std::string path = (std::filesystem::path(folder) / name).string();
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) {
            where += (where.empty() ? "" : ", ") + folder;
            continue;
        }
        std::vector<std::uint8_t> bytes;
        if (!util::ReadWholeFile(path, bytes, error)) return false;
        list.path = path;
        list.numbers.clear();
        std::string why;
        if (!ParseRestoreList(
                std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), defs,
                list.numbers, why)) {
            // "line 4: ..." becomes "FILE:4: ..."
            error = path + ":" + why.substr(5);
            return false;
        }
        return true;
    }
    error = "No restore list " + name + " (looked for in: " + where + ")";
    return false;
}

}  // namespace vindelor::registers
