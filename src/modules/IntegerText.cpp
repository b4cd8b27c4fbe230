#include "modules/IntegerText.h"

#include <charconv>

namespace vindelor::modules {

std::int32_t ReadInteger(const std::string& text) {
    const char* first = text.data();
    const char* last = text.data() + text.size();
    // from_chars takes a minus sign but no plus sign.
    if (first != last && *first == '+' && last - first > 1 && first[1] != '-') ++first;
    std::int32_t value = 0;
    const auto [ptr, ec] = std::from_chars(first, last, value, 10);
    if (first == last || ec != std::errc() || ptr != last)
        throw ConversionError("'" + text + "' is not a valid integer value");
    return value;
}

}  // namespace vindelor::modules
