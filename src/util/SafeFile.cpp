#include "util/SafeFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace vindelor::util {

namespace {

std::string failure(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

std::string WriteFileSafely(const std::string& path, std::string_view bytes) {
    // A fresh name beside the target (same file system, so the rename is atomic); created with
    // the usual mode, so the result looks like any file the user writes.
    static std::atomic<unsigned> counter {0};
    int fd = -1;
    std::string temp;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return failure("Cannot create a temporary file beside", path);
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            std::string reason = failure("Cannot write", temp);
            ::close(fd);
            ::unlink(temp.c_str());
            return reason;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    bool written = ::fsync(fd) == 0;
    if (::close(fd) != 0) written = false;
    if (!written) {
        std::string reason = failure("Cannot write", temp);
        ::unlink(temp.c_str());
        return reason;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        std::string reason = failure("Cannot replace", path);
        ::unlink(temp.c_str());
        return reason;
    }
    return {};
}

std::string WriteFileSafely(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    return WriteFileSafely(
        path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& reason) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        reason = failure("Cannot open", path);
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        reason = failure("Cannot read", path);
        return false;
    }
    return true;
}

}  // namespace vindelor::util
