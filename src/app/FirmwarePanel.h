#pragma once

#include <QGroupBox>

#include <cstdint>
#include <memory>
#include <string>

class QEventLoop;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace vindelor::firmware {
class TVxLoad;
}

namespace vindelor::app {

class TfrmMain;

// The module firmware update on the "VXM-NC" tab: the image file, "Load firmware", the
// update's status and the loader's own status text with its percentage, and a Cancel.
//
// While the update runs the window keeps painting and answering, every other control that
// sends is disabled, and the receive thread is paused; whatever happens, the port is left at
// 19200 baud, opened again, and the receive thread goes on.
class FirmwarePanel : public QGroupBox {
    Q_OBJECT
public:
    static constexpr int kPortBaudAfterUpdate = 19200;

    FirmwarePanel(TfrmMain& form, QWidget* parent);
    ~FirmwarePanel() override;

    void Button14Click();
    void btnBrowseFirmwareClick();
    void btnCancelFirmwareClick();
    // Reads the image, runs the loader and waits for its end while the window goes on.
    // Throws the firmware-file error when the image cannot be read.
    void UpdateModuleFirmware(const QString& fileName);
    // The loader's status, handed on by the window's message handler.
    void onLoaderState(int code, std::int64_t argument);
    bool updating() const { return loader_ != nullptr; }

    QLineEdit* edFirmware;
    QPushButton* btnBrowseFirmware;
    QPushButton* Button14;
    QPushButton* btnCancelFirmware;
    QLabel* lblFirmStatus;
    QLabel* lblLoaderStatus;
    QProgressBar* pbFirmware;

private:
    TfrmMain& form_;
    std::unique_ptr<firmware::TVxLoad> loader_;
    QEventLoop* loop_ = nullptr;
};

}  // namespace vindelor::app
