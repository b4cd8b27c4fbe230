#pragma once

#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <string>

#include "registers/Definitions.h"
#include "sim/ModuleWithBootloader.h"
#include "sim/RegisterBus.h"
#include "sim/SimPort.h"

namespace vindelor::app {

// What "vindelor --demo" needs before the window opens: simulated devices running in this
// process on pseudo-terminals, reachable through a port folder of its own (three motors on one
// RS-485 line as COM1, so a bus scan finds them; an expansion module as COM2 whose running
// firmware answers the text poll and whose bootloader takes a firmware update), a copy of the
// definition files and restore lists as the current folder (so editing them with key E leaves
// the shipped ones alone), and settings of its own, in administrator mode so every tab shows
// (the user's port, type and tabs stay as they are).
class Demo {
public:
    static constexpr int kPort = 1;
    struct Motor {
        int address;
        int type;
    };
    // The motors on COM1; the window talks to the first one at start.
    static constexpr Motor kMotors[] = {{1, registers::VX20_95}, {2, registers::VX20_95}, {17, registers::KT42}};
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
    // The motor the window talks to first.
    sim::RegisterDevice& device() { return *line_->device(0); }
    static int firstAddress() { return kMotors[0].address; }

private:
    QTemporaryDir root_;
    std::shared_ptr<sim::RegisterBus> line_;
    std::unique_ptr<sim::SimPort> port_;
    std::shared_ptr<sim::ModuleWithBootloader> module_;
    std::unique_ptr<sim::SimPort> modulePort_;
    QString sampleImage_;
};

}  // namespace vindelor::app
