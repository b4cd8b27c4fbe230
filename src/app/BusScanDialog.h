#pragma once

#include <QDialog>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace vindelor::app {

class TfrmMain;

// "Scan bus...": asks every address from 0 to 254 for its FIRMWARE register (the register of
// the device type chosen in the window) off the window thread, with progress and Cancel, lists
// the devices that answered with their firmware and type, and puts the chosen one's address in
// the address box.
class BusScanDialog : public QDialog {
    Q_OBJECT
  public:
    explicit BusScanDialog(TfrmMain& form);

    // Scans the whole range; returns when the scan has ended (or was cancelled).
    void scan();
    bool running() const { return running_; }

    QProgressBar* pbScan;
    QLabel* lblScan;
    QTreeWidget* lvDevices;
    QSpinBox* udScanTimeout;
    QPushButton* btnScanStart;
    QPushButton* btnScanCancel;
    QPushButton* btnUseAddress;
    QPushButton* btnScanClose;

  protected:
    void closeEvent(QCloseEvent* e) override;
    void reject() override;

  private:
    struct Device {
        int address = 0;
        std::string firmware;
        std::string type;
    };
    void setRunning(bool on);
    void useAddress();

    TfrmMain& form_;
    std::atomic<bool> cancel_{false};
    bool running_ = false;
};

}  // namespace vindelor::app
