#include "app/About.h"

#include "util/Licence.h"

namespace vindelor::app {

QString AboutText() {
    return QStringLiteral("Vindelor " VINDELOR_VERSION "\n"
                          "Service tool for servo motors, stepper controllers and their expansion modules.\n\n") +
           QString::fromUtf8(util::kCopyrightLine) + QStringLiteral("\n") + QString::fromUtf8(util::kLicenceLines);
}

}  // namespace vindelor::app
