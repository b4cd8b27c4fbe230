#pragma once

#include <QString>

#include <string_view>

#include "app/Cp1252.h"

namespace vindelor::app {

// The core's texts end their lines with "\r" or "\r\n"; labels and text views break lines at
// "\n".
inline QString CaptionText(std::string_view text) {
    QString s = FromCp1252(text);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

// Tabs as spaces to the next multiple of eight columns, for a label in a fixed-pitch font
// whose rows line up their values with tabs. (A label's own tab stops are a fixed number of
// pixels, which splits rows of 10 and 13 letters onto different stops.)
inline QString TabsExpanded(const QString& text) {
    constexpr int kTabColumns = 8;
    QString out;
    int column = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('\t')) {
            const int spaces = kTabColumns - column % kTabColumns;
            out += QString(spaces, QLatin1Char(' '));
            column += spaces;
            continue;
        }
        out += c;
        column = c == QLatin1Char('\n') ? 0 : column + 1;
    }
    return out;
}

}  // namespace vindelor::app
