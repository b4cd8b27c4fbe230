#pragma once

#include <stdexcept>
#include <string>

namespace vindelor::program {

// A program that cannot be built or sent: a caller's mistake (a label outside the table, a jump
// to a label no command bears, an operand that does not fit its field) or a file that cannot be
// written or read. The text is one line for the user; nothing has been sent when it is thrown.
class VarpError : public std::runtime_error {
public:
    explicit VarpError(const std::string& text) : std::runtime_error(text) {}
};

}  // namespace vindelor::program
