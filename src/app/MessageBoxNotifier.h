#pragma once

#include "protocol/Notifier.h"

namespace vindelor::app {

// The notifier of the window: modal message boxes over the active window.
class MessageBoxNotifier : public protocol::Notifier {
public:
    // A box with the warning icon and OK.
    void warning(const std::string& caption, const std::string& text) override;
    // A box with no icon and OK.
    void information(const std::string& caption, const std::string& text) override;
};

}  // namespace vindelor::app
