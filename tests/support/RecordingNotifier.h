#pragma once

#include <string>
#include <vector>

#include "protocol/Notifier.h"

namespace vindelor::testing {

// Records every message box as "warning|caption|text" or "plain|caption|text".
struct RecordingNotifier : protocol::Notifier {
    void warning(const std::string& caption, const std::string& text) override {
        boxes.push_back("warning|" + caption + "|" + text);
    }
    void information(const std::string& caption, const std::string& text) override {
        boxes.push_back("plain|" + caption + "|" + text);
    }
    std::vector<std::string> boxes;
};

}  // namespace vindelor::testing
