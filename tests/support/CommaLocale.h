#pragma once

#include <clocale>
#include <string>

namespace vindelor::testing {

// Switches the C library to a locale whose decimal separator is a comma, as the window's
// toolkit does for a German user, and back to the previous locale at the end of the scope.
// active() is false when the machine has no such locale.
class CommaLocale {
public:
    CommaLocale() {
        const char* current = std::setlocale(LC_ALL, nullptr);
        previous_ = current ? current : "C";
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8"}) {
            if (std::setlocale(LC_ALL, name) && *std::localeconv()->decimal_point == ',') {
                active_ = true;
                return;
            }
        }
        std::setlocale(LC_ALL, previous_.c_str());
    }
    ~CommaLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    bool active() const { return active_; }

private:
    std::string previous_;
    bool active_ = false;
};

}  // namespace vindelor::testing
