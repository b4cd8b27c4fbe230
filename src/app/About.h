#pragma once

#include <QString>

namespace vindelor::app {

// The window's about text: what the program is, its version and its licence.
QString AboutText();

}  // namespace vindelor::app
