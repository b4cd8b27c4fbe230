#include "sim/Pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace vindelor::sim {

Pty::Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        throw std::runtime_error(std::string("Cannot create a pseudo-terminal: ") +
                                 std::strerror(errno));
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0)
        throw std::runtime_error("Cannot name the pseudo-terminal");
    slavePath_ = name;
    slaveKeeper_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveKeeper_ < 0) throw std::runtime_error("Cannot open " + slavePath_);
    // Raw from the start, so nothing is echoed or held back before the tool configures the line.
    termios tio {};
    ::tcgetattr(slaveKeeper_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slaveKeeper_, TCSANOW, &tio);
    int flags = ::fcntl(master_, F_GETFL);
    ::fcntl(master_, F_SETFL, flags | O_NONBLOCK);
}

Pty::~Pty() {
    if (slaveKeeper_ >= 0) ::close(slaveKeeper_);
    closeMaster();
}

void Pty::closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

std::string LinkPort(const std::string& folder, int portNumber, const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(folder, ec);
    const fs::path link = fs::path(folder) / ("com" + std::to_string(portNumber));
    fs::remove(link, ec);
    fs::create_symlink(path, link, ec);
    if (ec) throw std::runtime_error("Cannot create " + link.string() + ": " + ec.message());
    return link.string();
}

}  // namespace vindelor::sim
