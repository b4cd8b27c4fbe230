#include "protocol/ByteText.h"

#include <charconv>
#include <cstdio>

namespace vindelor::protocol {

std::string ByteText(std::uint8_t b) {
    char text[8];
    std::snprintf(text, sizeof text, "<%02X>", b);
    return text;
}

std::string BinaryText(std::uint32_t value, int bits) {
    std::string text = "0b";
    for (int pos = bits - 1; pos >= 0; --pos) {
        text += ((pos < 32 && (value >> pos) & 1u) ? '1' : '0');
        if (pos != 0 && pos % 4 == 0) text += '\'';
    }
    return text;
}

int DecimalOrZero(const std::string& text) {
    std::size_t begin = text.find_first_not_of(" \t");
    std::size_t end = text.find_last_not_of(" \t");
    if (begin == std::string::npos) return 0;
    const char* first = text.data() + begin;
    const char* last = text.data() + end + 1;
    if (*first == '+') ++first;
    int value = 0;
    auto [ptr, ec] = std::from_chars(first, last, value, 10);
    if (ec != std::errc() || ptr != last) return 0;
    return value;
}

}  // namespace vindelor::protocol
