#include "util/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

namespace vindelor::util {

namespace {

std::string failure(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// Creates a fresh file beside path (same file system, so a rename over path is atomic), with
// the usual mode, so the result looks like any file the user writes. -1 when it cannot.
int CreateTemporaryBeside(const std::string& path, std::string& temp) {
    static std::atomic<unsigned> counter{0};
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    return fd;
}

}  // namespace

std::string CheckWritableSafely(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return failure("Cannot replace", path);
    }
    std::string temp;
    const int fd = CreateTemporaryBeside(path, temp);
    if (fd < 0) return failure("Cannot create a temporary file beside", path);
    ::close(fd);
    ::unlink(temp.c_str());
    return {};
}

std::string WriteFileSafely(const std::string& path, std::string_view bytes) {
    std::string temp;
    const int fd = CreateTemporaryBeside(path, temp);
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

// Reads a file, at most limit bytes of it; returns 0 or the errno of the failure, with the
// step that failed. With regularOnly anything but a regular file fails (EINVAL), and so does
// a regular file longer than limit (EFBIG).
int ReadAll(const std::string& path, std::vector<std::uint8_t>& bytes, const char*& failedStep,
            std::size_t limit = std::numeric_limits<std::size_t>::max(), bool regularOnly = false) {
    // Plain descriptors, no streams: a stream's read error (a folder of that name, a failing disk)
    // leaves as an exception from deep inside the library instead of an answer here.
    bytes.clear();
    failedStep = "Cannot open";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    failedStep = "Cannot read";
    struct stat st {};
    std::size_t expected = 0;
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (regular && st.st_size > 0) expected = static_cast<std::size_t>(st.st_size);
    if (regularOnly && (!regular || expected > limit)) {
        ::close(fd);
        return regular ? EFBIG : EINVAL;
    }
    // The size is only a hint (the file may change while it is read, or be a pipe whose size is
    // unknown): the bytes read count, up to the limit.
    constexpr std::size_t kChunk = 4096;
    bytes.resize(std::min(limit, expected + kChunk));
    std::size_t used = 0;
    while (used < limit) {
        if (used == bytes.size()) bytes.resize(std::min(limit, bytes.size() * 2));
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

int ReadFileStart(const std::string& path, std::vector<std::uint8_t>& bytes, std::size_t limit) {
    const char* step = nullptr;
    return ReadAll(path, bytes, step, limit);
}

std::string ReadRegularFile(const std::string& path, std::vector<std::uint8_t>& bytes,
                            std::size_t maxSize) {
    const char* step = nullptr;
    const int error = ReadAll(path, bytes, step, maxSize, true);
    if (error == 0) return {};
    if (error == EINVAL) return path + " is not a regular file";
    if (error == EFBIG) return path + " is larger than " + std::to_string(maxSize) + " bytes";
    return std::string(step) + " " + path + ": " + std::strerror(error);
}

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
