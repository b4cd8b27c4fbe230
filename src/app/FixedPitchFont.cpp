#include "app/FixedPitchFont.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QStringList>

namespace vindelor::app {

namespace {

bool MatchesFixedPitch(const QFont& font) {
    return QFontInfo(font).fixedPitch();
}

}  // namespace

QFont FixedPitchFont(int pointSize) {
    return FixedPitchFont(pointSize, QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

QFont FixedPitchFont(int pointSize, QFont preferred) {
    preferred.setPointSize(pointSize);
    if (MatchesFixedPitch(preferred)) return preferred;

    QFont mono(QStringLiteral("monospace"), pointSize);
    mono.setStyleHint(QFont::Monospace, QFont::PreferMatch);
    mono.setFixedPitch(true);
    if (MatchesFixedPitch(mono)) return mono;

    for (const QString& family : QFontDatabase::families()) {
        if (!QFontDatabase::isFixedPitch(family)) continue;
        QFont f(family, pointSize);
        f.setStyleHint(QFont::Monospace);
        if (MatchesFixedPitch(f)) return f;
    }
    return mono;  // no fixed-pitch font installed at all: the best the system can do
}

}  // namespace vindelor::app
