#include "app/Demo.h"

#include <QDir>
#include <QFile>
#include <QSettings>

#include <exception>

#include "firmware/ImageWriter.h"
#include "registers/Definitions.h"
#include "sim/DeviceSetup.h"
#include "sim/Pty.h"

namespace vindelor::app {

namespace {

constexpr int kSampleBlocks = 4;
constexpr std::size_t kSampleBlockSize = 4096;

// A small image in loader mode 0: two erase records and four flash blocks with their checks.
std::vector<std::uint8_t> SampleImage() {
    firmware::ImageWriter w;
    w.AddHeader({0, 0, 0x0100, "VXM-NC demo firmware"});
    w.AddErase(0).AddErase(1);
    for (int k = 0; k < kSampleBlocks; ++k) {
        std::vector<std::uint8_t> data(kSampleBlockSize);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31 + static_cast<std::size_t>(k));
        w.AddFlash(static_cast<std::uint32_t>(k * kSampleBlockSize), firmware::WithBlockCheck(data));
    }
    return w.Bytes();
}

}  // namespace

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

    std::vector<sim::LineMember> motors;
    for (const Motor& m : kMotors) motors.push_back({m.address, m.type});
    std::string why;
    line_ = sim::MakeMotorLine(motors, 1, defs.toStdString(), why);
    if (!line_) return why;

    const QDir source(defs);
    for (const QString& name : source.entryList({QStringLiteral("*.dat")}, QDir::Files)) {
        if (!QFile::copy(source.filePath(name), root.filePath(QStringLiteral("defs/") + name)))
            return "Cannot copy " + source.filePath(name).toStdString();
        QFile::setPermissions(root.filePath(QStringLiteral("defs/") + name),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    }

    try {
        port_ = std::make_unique<sim::SimPort>(line_);
        sim::LinkPort(root.filePath(QStringLiteral("ports")).toStdString(), kPort, port_->slavePath());
    } catch (const std::exception& e) {
        return std::string("Cannot start the simulated motor: ") + e.what();
    }
    try {
        auto config = sim::Bootloader::ForMode(0);
        // Its firmware prints a line now and then, which the poll of the VXM-NC tab shows.
        auto firmware = std::make_shared<sim::RegisterDevice>();
        firmware->setDemoText(true);
        module_ = std::make_shared<sim::ModuleWithBootloader>(std::make_shared<sim::Bootloader>(config), firmware);
        modulePort_ = std::make_unique<sim::SimPort>(module_);
        modulePort_->setBaudRate(kModuleBaud);
        modulePort_->setPaceInput(true);
        sim::LinkPort(root.filePath(QStringLiteral("ports")).toStdString(), kModulePort, modulePort_->slavePath());
    } catch (const std::exception& e) {
        return std::string("Cannot start the simulated module: ") + e.what();
    }
    sampleImage_ = root.filePath(QStringLiteral("defs/demo-module.vxf"));
    {
        QFile image(sampleImage_);
        const auto bytes = SampleImage();
        if (!image.open(QIODevice::WriteOnly) ||
            image.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) !=
                static_cast<qint64>(bytes.size()))
            return "Cannot write " + sampleImage_.toStdString();
    }
    qputenv("VINDELOR_PORT_DIR", QFile::encodeName(root.filePath(QStringLiteral("ports"))));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, root.filePath(QStringLiteral("settings")));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, root.filePath(QStringLiteral("settings")));
    {
        // Administrator mode: the demo shows every tab.
        QSettings settings(QStringLiteral("Kyvane"), QStringLiteral("Tambrel"));
        settings.setValue(QStringLiteral("KyvaneAdmin"), 1);
    }
    if (!QDir::setCurrent(root.filePath(QStringLiteral("defs")))) return "Cannot change to the definition folder";
    return {};
}

QString Demo::modulePath() const {
    return modulePort_ ? QString::fromLocal8Bit(modulePort_->slavePath().c_str()) : QString();
}

QString Demo::devicePath() const { return port_ ? QString::fromLocal8Bit(port_->slavePath().c_str()) : QString(); }

}  // namespace vindelor::app
