#include "util/Number.h"

#include <charconv>
#include <cmath>

namespace vindelor::util {

std::string FixedText(double v, int decimals, int width) {
    // Enough for any double in fixed notation (up to 309 integer digits) and the decimals.
    char text[400];
    const auto [end, ec] =
        std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, decimals);
    std::string s = ec == std::errc() ? std::string(text, end) : std::string();
    if (static_cast<int>(s.size()) < width)
        s.insert(0, static_cast<std::size_t>(width) - s.size(), ' ');
    return s;
}

std::string ShortestText(double v) {
    char text[32];  // the longest shortest form of a double is 24 characters
    const auto [end, ec] = std::to_chars(text, text + sizeof text, v);
    return ec == std::errc() ? std::string(text, end) : std::string();
}

std::optional<double> ParseDouble(std::string_view text) {
    // from_chars takes a minus but no plus sign.
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '-' || text.front() == '+')) return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    double v = 0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

}  // namespace vindelor::util
