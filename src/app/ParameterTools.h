#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>
#include <string>
#include <vector>

#include "registers/ParameterDevice.h"

class QPushButton;

namespace vindelor::app {

class BasicTab;
class BusScanDialog;
class ParameterDialog;
class TfrmMain;

// The bus scan and the parameter sets on the "VxBasic" tab, beside the register list: the
// buttons "Scan bus...", "Save parameters...", "Compare with file..." and "Restore from
// file...", thin over the core's scan, parameter file and verified restore. The device is the
// one of the address box, its type the one of the "Type" box; every exchange runs off the window
// thread with the other senders disabled.
class ParameterTools : public QObject {
    Q_OBJECT
  public:
    ParameterTools(TfrmMain& form, BasicTab& tab);

    void btnScanBusClick();
    void btnSaveParamsClick();
    void btnCompareParamsClick();
    void btnRestoreParamsClick();
    // The same with the file already chosen.
    void saveTo(const QString& path);
    void compareWith(const QString& path);
    void restoreFrom(const QString& path);

    QPushButton* btnScanBus;
    QPushButton* btnSaveParams;
    QPushButton* btnCompareParams;
    QPushButton* btnRestoreParams;

    // The dialog open now, if any.
    QPointer<BusScanDialog> scanDialog;
    QPointer<ParameterDialog> dialog;

  private:
    int deviceType() const;
    std::string typeName() const;
    int address() const;
    // The definitions as the register list finds them, and the restore list beside them; a
    // warning box and false when they do not load (or, when needed, the restore list).
    bool loadDefinitions(bool needRestoreList);
    // A warning box naming the file and the line, and false, for a file that does not read.
    bool readFile(const QString& path);
    // Opens the dialog, reads every register of the device into device_; the reason on failure.
    ParameterDialog& openDialog(int mode, const QString& title);
    std::string readDevice();
    void showComparison();
    void planRestore();
    void runRestore();
    void error(const std::string& text);

    TfrmMain& form_;
    BasicTab& tab_;
    registers::ParameterDefinitions pd_;
    QString path_;
    registers::ParameterSet file_;
    registers::ParameterSet device_;
    std::vector<registers::RestoreStep> steps_;
};

}  // namespace vindelor::app
