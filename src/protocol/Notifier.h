#pragma once

#include <string>

namespace vindelor::protocol {

// Message boxes the core asks the user to see. The window shows them modally; the command
// line prints them; tests record them.
class Notifier {
public:
    virtual ~Notifier() = default;
    // A box with a warning icon (caption "Error" as a rule).
    virtual void warning(const std::string& caption, const std::string& text) = 0;
    // A box with no icon and only an OK button.
    virtual void information(const std::string& caption, const std::string& text) = 0;
};

}  // namespace vindelor::protocol
