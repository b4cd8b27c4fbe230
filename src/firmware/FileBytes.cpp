#include "firmware/FileBytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vindelor::firmware {

int ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat st {};
    std::size_t expected = 0;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        expected = static_cast<std::size_t>(st.st_size);
    // The size is only a hint: the count actually read is what counts (the file may change, or
    // be a pipe whose size is unknown).
    bytes.resize(expected > 0 ? expected + 1 : 65536);
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

}  // namespace vindelor::firmware
