#pragma once

#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <string>

#include "sim/Bootloader.h"
#include "sim/RegisterDevice.h"
#include "sim/SimPort.h"

namespace vindelor::app {

// What "vindelor --demo" needs before the window opens: a simulated VX20-95 running in this
// process on a pseudo-terminal, reachable as COM1 through a port folder of its own, a copy of
// the definition files as the current folder (so editing them with key E leaves the shipped
// ones alone), and settings of its own (the user's port and type stay as they are).
class Demo {
public:
    static constexpr int kPort = 1;
    // A VXM-NC module running its firmware, ready for a firmware update from the sample image.
    static constexpr int kModulePort = 2;
    static constexpr int kModuleBaud = 57600;  // its line is paced like a real one

    Demo();
    ~Demo();
    Demo(const Demo&) = delete;
    Demo& operator=(const Demo&) = delete;

    // Empty when the demo is ready, else why it could not start. Call before the window and
    // before any settings are opened.
    std::string start();

    QString devicePath() const;
    QString modulePath() const;
    // The sample firmware image for the module (loader mode 0), in the current folder.
    QString sampleImage() const { return sampleImage_; }
    sim::RegisterDevice& device() { return *device_; }

private:
    QTemporaryDir root_;
    std::shared_ptr<sim::RegisterDevice> device_;
    std::unique_ptr<sim::SimPort> port_;
    std::shared_ptr<sim::Bootloader> module_;
    std::unique_ptr<sim::SimPort> modulePort_;
    QString sampleImage_;
};

}  // namespace vindelor::app
