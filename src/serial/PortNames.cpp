#include "serial/PortNames.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>

namespace vindelor::serial {

std::string PortFolder() {
    if (const char* dir = std::getenv("VINDELOR_PORT_DIR"); dir && *dir) return dir;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/Kyvane/ports";
}

std::string DevicePathForPort(int portNumber) {
    if (portNumber < 1) return {};
    std::string link = PortFolder() + "/com" + std::to_string(portNumber);
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0) return link;
    if (portNumber <= 32) return "/dev/ttyS" + std::to_string(portNumber - 1);
    if (portNumber <= 63) return "/dev/ttyUSB" + std::to_string(portNumber - 33);
    return {};
}

std::optional<int> ParsePortName(const std::string& text) {
    if (text.size() < 4 || text.size() > 6) return std::nullopt;
    for (std::size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != "COM"[i]) return std::nullopt;
    int n = 0;
    for (std::size_t i = 3; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
        n = n * 10 + (text[i] - '0');
    }
    return n;
}

bool DeviceExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

}  // namespace vindelor::serial
