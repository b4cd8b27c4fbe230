#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace vindelor::util {

// printf-style formatting into a string, for the fixed-layout texts of the lists and logs.
template <typename... Args>
std::string Format(const char* format, Args... args) {
    char small[128];
    const int n = std::snprintf(small, sizeof small, format, args...);
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < sizeof small) return std::string(small, static_cast<std::size_t>(n));
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), format, args...);
    big.resize(static_cast<std::size_t>(n));
    return big;
}

// Blanks removed at the end.
inline std::string TrimRight(std::string_view s) {
    const auto end = s.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string() : std::string(s.substr(0, end + 1));
}

// Blanks, tabs and line ends removed at both ends.
inline std::string_view Trimmed(std::string_view s) {
    const auto begin = s.find_first_not_of(" \t\r\n");
    if (begin == std::string_view::npos) return {};
    const auto end = s.find_last_not_of(" \t\r\n");
    return s.substr(begin, end - begin + 1);
}

}  // namespace vindelor::util
