#include "registers/DefinitionFolders.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace vindelor::registers {

namespace {

namespace fs = std::filesystem;

// The error texts of a file that cannot be read end with this line number.
constexpr const char* kUnreadableSuffix = "(LINE 0)";

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool Exists(const std::string& folder, const std::string& name) {
    std::error_code ec;
    return fs::exists(fs::path(folder) / name, ec);
}

// The folder as the user would look for it: the current folder as its full path.
std::string Shown(const std::string& folder) {
    std::error_code ec;
    if (folder == "." || folder.empty()) {
        const fs::path cwd = fs::current_path(ec);
        if (!ec) return cwd.string();
    }
    return folder;
}

std::string ProgramFolder() {
#ifdef __linux__
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) return self.parent_path().string();
#endif
    return {};
}

}  // namespace

std::string UserDefinitionFolder(const char* xdgDataHome, const char* home) {
    if (xdgDataHome && xdgDataHome[0] == '/') return (fs::path(xdgDataHome) / "vindelor" / "defs").string();
    if (home && home[0] != '\0') return (fs::path(home) / ".local" / "share" / "vindelor" / "defs").string();
    return {};
}

std::string SharedDefinitionFolder() {
    const std::string program = ProgramFolder();
    if (program.empty()) return {};
    return (fs::path(program) / VINDELOR_SHARED_DEFS_FROM_BIN).lexically_normal().string();
}

std::vector<std::string> FallbackDefinitionFolders() {
    std::vector<std::string> folders;
    for (const std::string& f : {UserDefinitionFolder(std::getenv("XDG_DATA_HOME"), std::getenv("HOME")),
                                 SharedDefinitionFolder()})
        if (!f.empty()) folders.push_back(f);
    return folders;
}

std::vector<std::string> DefinitionFileNames(int deviceType, bool alt) {
    const DeviceFiles& files = FilesOf(deviceType);
    if (alt) return {files.altFile};
    return {files.registerFile, files.bitFieldFile};
}

std::optional<std::string> FindDefinitionFolder(const std::vector<std::string>& folders, int deviceType, bool alt) {
    const auto names = DefinitionFileNames(deviceType, alt);
    for (const std::string& folder : folders)
        for (const std::string& name : names)
            if (Exists(folder, name)) return folder;
    return std::nullopt;
}

LoadResult LoadFromFolders(Definitions& defs, int deviceType, bool alt, const std::vector<std::string>& folders,
                           std::string& usedFolder) {
    const auto found = FindDefinitionFolder(folders, deviceType, alt);
    usedFolder = found ? *found : (folders.empty() ? std::string(".") : folders.front());
    LoadResult result = LoadDefinitions(defs, deviceType, alt, usedFolder);

    // Where an unreadable file was looked for: everywhere when no folder held the set, else
    // only in the folder that did.
    std::string where;
    for (const std::string& folder : found ? std::vector<std::string> {*found} : folders)
        where += (where.empty() ? "" : ", ") + Shown(folder);
    const auto names = DefinitionFileNames(deviceType, alt);
    for (std::string& error : result.errors) {
        if (!EndsWith(error, kUnreadableSuffix)) continue;
        // The register file's error comes first; the bit-field file's second.
        const bool bitFields = error.rfind("Error loading bitdef", 0) == 0;
        const std::string& name = names[bitFields && names.size() > 1 ? 1 : 0];
        error += "\n" + name + " was looked for in: " + where;
    }
    return result;
}

}  // namespace vindelor::registers
