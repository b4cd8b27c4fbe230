#include "app/SettingsStore.h"

namespace vindelor::app {

SettingsStore::SettingsStore() : settings_(QString::fromLatin1(kOrganisation), QString::fromLatin1(kApplication)) {}

std::optional<int> SettingsStore::readInteger(const char* name) const {
    const QVariant v = settings_.value(QString::fromLatin1(name));
    if (!v.isValid()) return std::nullopt;
    // A number, or text that is one (the Linux file keeps everything as text).
    bool ok = false;
    const int n = v.toString().trimmed().toInt(&ok, 10);
    if (!ok) return std::nullopt;
    return n;
}

QString SettingsStore::readText(const char* name) const {
    const QVariant v = settings_.value(QString::fromLatin1(name));
    return v.isValid() ? v.toString() : QString();
}

void SettingsStore::writeInteger(const char* name, int value) { settings_.setValue(QString::fromLatin1(name), value); }

void SettingsStore::writeText(const char* name, const QString& value) {
    settings_.setValue(QString::fromLatin1(name), value);
}

void SettingsStore::flush() { settings_.sync(); }

}  // namespace vindelor::app
