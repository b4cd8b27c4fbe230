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

}  // namespace vindelor::app
