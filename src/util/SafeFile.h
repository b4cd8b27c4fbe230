#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vindelor::util {

// Replaces (or creates) a file so that a failure never leaves half a file behind: the bytes go
// to a temporary file in the same folder, which is flushed and then renamed over the target.
// Returns an empty string on success, otherwise a one-line reason naming the file.
std::string WriteFileSafely(const std::string& path, std::string_view bytes);
std::string WriteFileSafely(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Finds out before a long job whether WriteFileSafely(path) could create its temporary file
// (which it removes again) and path is no folder. Empty, or the reason WriteFileSafely would give.
std::string CheckWritableSafely(const std::string& path);

// Reads a whole file into `bytes` in one go. Returns 0, or the errno of the failure (a folder
// or any other thing that cannot be read as a file fails too, instead of reading as empty).
int ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& bytes);
// The same with a one-line reason naming the file ("Cannot open PATH: ...") on failure.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& reason);

// Reads at most limit bytes from the start of a file (a longer file or an endless device is
// cut there). Returns 0, or the errno of the failure.
int ReadFileStart(const std::string& path, std::vector<std::uint8_t>& bytes, std::size_t limit);
// Reads a regular file of at most maxSize bytes whole, for a caller that must know the size
// before it sends anything. Empty, or a one-line reason naming the file (not a regular file,
// larger than maxSize, cannot open or read).
std::string ReadRegularFile(const std::string& path, std::vector<std::uint8_t>& bytes,
                            std::size_t maxSize);

}  // namespace vindelor::util
