#pragma once

#include <QFont>

namespace vindelor::app {

// A fixed-pitch font of the given size for the lists whose columns are aligned by blanks.
// The preferred font (the desktop's fixed font unless given) is kept when the font actually
// matched for it is fixed-pitch; on a machine whose desktop names none (the offscreen platform,
// a fresh installation) it is the family that the font configuration maps "monospace" to, else
// the first fixed-pitch family installed.
QFont FixedPitchFont(int pointSize);
QFont FixedPitchFont(int pointSize, QFont preferred);

}  // namespace vindelor::app
