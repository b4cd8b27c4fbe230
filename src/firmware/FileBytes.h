#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vindelor::firmware {

// Reads a whole file into `bytes` in one go. Returns 0, or the errno of the failure (a folder
// or any other thing that cannot be read as a file fails too, instead of reading as empty).
int ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& bytes);

}  // namespace vindelor::firmware
