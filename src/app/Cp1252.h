#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace vindelor::app {

// The tool's texts are 8-bit Windows-1252 (register names, definition files, the lines the
// register list builds). They become QString only here, at the edge of the window.
QString FromCp1252(std::string_view text);

// Characters without a Windows-1252 code become '?'.
std::string ToCp1252(const QString& text);

}  // namespace vindelor::app
