#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vindelor::modules {

// The error of a text box that does not hold a decimal integer. It ends the user action and
// reaches the window's general error report with its text.
class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A decimal integer as the module panels read their text boxes: an optional sign and digits,
// nothing else, within the signed 32-bit range. Throws ConversionError
// ("'12a' is not a valid integer value") otherwise.
std::int32_t ReadInteger(const std::string& text);

}  // namespace vindelor::modules
