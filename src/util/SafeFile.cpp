#include "util/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vindelor::util {

namespace {

std::string failure(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

std::string WriteFileSafely(const std::string& path, std::string_view bytes) {
    // A fresh name beside the target (same file system, so the rename is atomic); created with
    // the usual mode, so the result looks like any file the user writes.
    static std::atomic<unsigned> counter{0};
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

namespace {

// Reads a whole file; returns 0 or the errno of the failure, with the step that failed.
int ReadAll(const std::string& path, std::vector<std::uint8_t>& bytes, const char*& failedStep) {
    // Plain descriptors, no streams: a stream's read error (a folder of that name, a failing disk)
    // leaves as an exception from deep inside the library instead of an answer here.
    bytes.clear();
    failedStep = "Cannot open";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    failedStep = "Cannot read";
    struct stat st {};
    std::size_t expected = 0;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        expected = static_cast<std::size_t>(st.st_size);
    // The size is only a hint (the file may change while it is read, or be a pipe whose size is
    // unknown): the bytes read count.
    bytes.resize(expected + 4096);
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) bytes.resize(bytes.size() * 2);
        const ssize_t n = ::read(fd, bytes.data() + used, bytes.size() - used);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            bytes.clear();
            return error;
        }
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(used);
    return 0;
}

}  // namespace

int ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& bytes) {
    const char* step = nullptr;
    return ReadAll(path, bytes, step);
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& reason) {
    const char* step = nullptr;
    const int error = ReadAll(path, bytes, step);
    if (error == 0) return true;
    reason = std::string(step) + " " + path + ": " + std::strerror(error);
    return false;
}

}  // namespace vindelor::util
