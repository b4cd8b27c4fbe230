#pragma once

#include <QSettings>
#include <QString>

#include <optional>

namespace vindelor::app {

// The settings of the window: QSettings("Kyvane", "Tambrel"), the registry key
// Software\Kyvane\Tambrel on Windows and ~/.config/Kyvane/Tambrel.conf on Linux.
// Integers are numbers; a missing integer, or one that does not read as a 32-bit number, is a
// read failure. A missing text reads as empty text.
class SettingsStore {
public:
    static constexpr const char* kOrganisation = "Kyvane";
    static constexpr const char* kApplication = "Tambrel";

    SettingsStore();

    std::optional<int> readInteger(const char* name) const;
    QString readText(const char* name) const;
    void writeInteger(const char* name, int value);
    void writeText(const char* name, const QString& value);
    // Writes everything out now; also done when the store closes.
    void flush();

private:
    QSettings settings_;
};

}  // namespace vindelor::app
