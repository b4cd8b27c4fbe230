#include "app/Demo.h"

#include <QDir>
#include <QFile>
#include <QSettings>

#include <exception>

#include "registers/Definitions.h"
#include "sim/DeviceSetup.h"
#include "sim/Pty.h"

namespace vindelor::app {

Demo::Demo() = default;

// The window is gone before this runs, so nothing has the port open any more.
Demo::~Demo() = default;

std::string Demo::start() {
    if (!root_.isValid()) return "Cannot create a temporary folder: " + root_.errorString().toStdString();
    const QString defs = QString::fromLocal8Bit(sim::DefaultDefinitionsFolder().c_str());
    const QDir root(root_.path());
    if (!root.mkpath(QStringLiteral("ports")) || !root.mkpath(QStringLiteral("defs")) ||
        !root.mkpath(QStringLiteral("settings")))
        return "Cannot create folders in " + root_.path().toStdString();

    device_ = std::make_shared<sim::RegisterDevice>();
    if (std::string why = sim::ConfigureAsMotor(*device_, registers::VX20_95, defs.toStdString()); !why.empty())
        return why;
    // The fieldbus module's log has something to show when the poll runs.
    device_->setDemoText(true);

    const QDir source(defs);
    for (const QString& name : source.entryList({QStringLiteral("*.dat")}, QDir::Files)) {
        if (!QFile::copy(source.filePath(name), root.filePath(QStringLiteral("defs/") + name)))
            return "Cannot copy " + source.filePath(name).toStdString();
        QFile::setPermissions(root.filePath(QStringLiteral("defs/") + name),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    }

    try {
        port_ = std::make_unique<sim::SimPort>(device_);
        sim::LinkPort(root.filePath(QStringLiteral("ports")).toStdString(), kPort, port_->slavePath());
    } catch (const std::exception& e) {
        return std::string("Cannot start the simulated motor: ") + e.what();
    }
    qputenv("VINDELOR_PORT_DIR", QFile::encodeName(root.filePath(QStringLiteral("ports"))));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, root.filePath(QStringLiteral("settings")));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, root.filePath(QStringLiteral("settings")));
    if (!QDir::setCurrent(root.filePath(QStringLiteral("defs")))) return "Cannot change to the definition folder";
    return {};
}

QString Demo::devicePath() const { return port_ ? QString::fromLocal8Bit(port_->slavePath().c_str()) : QString(); }

}  // namespace vindelor::app
