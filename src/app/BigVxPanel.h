#pragma once

#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "largemotor/FlashTools.h"
#include "protocol/RecvThread.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace vindelor::app {

class PortBusy;
class TfrmMain;

// The large motor's tools on the "BigVx" tab: the files of the boot-mode download with its
// progress, the single bootloader commands, and "Read Flash", "Write Flash" and "Address
// check", which run off the window thread with the other senders disabled meanwhile.
class BigVxPanel : public QWidget {
    Q_OBJECT
public:
    explicit BigVxPanel(TfrmMain& form);
    ~BigVxPanel() override;

    // The download the receive thread runs when the motor asks for it: reads the two file
    // names as they stand then, and shows its boxes through the window.
    protocol::RecvThread::DownloadHook downloadHook();
    // True while the window holds the port for a download the receive thread runs.
    bool downloading() const;
    // Shows the file names read from the settings.
    void showFiles(const QString& firmware, const QString& altera);
    // MsgProgress of the download.
    void onProgress(int percent);

    void btnBrowseClick();
    void btnBrowse2Click();
    void cbLoadAlteraClick();
    void Button5Click();
    void btnEraseSectorClick();
    void Button7Click();
    void btnWriteTestClick();
    void btnBootActivateClick();
    void btnBootActiveClick();
    void Button10Click();
    void btnReadFlashClick();
    void btnWriteFlashClick();
    void btnAddrCheckClick();
    void btnCancelFlashClick();

    QLineEdit* edFirmwareFile;
    QPushButton* btnBrowse;
    QLineEdit* edAlteraFile;
    QPushButton* btnBrowse2;
    QCheckBox* cbLoadAltera;
    QProgressBar* pbProgress;
    QLineEdit* edFlashFile;
    QLineEdit* edDataAddress;
    QSpinBox* udEraseSec;  // its edit is edEraseSec
    QLabel* lblReadCount;
    QPushButton* Button5;
    QPushButton* btnEraseSector;
    QPushButton* Button7;
    QPushButton* btnWriteTest;
    QPushButton* btnBootActivate;
    QPushButton* btnBootActive;
    QPushButton* Button10;
    QPushButton* btnReadFlash;
    QPushButton* btnWriteFlash;
    QPushButton* btnAddrCheck;
    QPushButton* btnCancelFlash;

    // The pauses of the tools; tests shorten the long ones.
    largemotor::Sleep sleep = largemotor::RealSleep;

private:
    void guarded(const std::function<void()>& handler);
    serial::TSerCom& port();
    largemotor::ToolContext toolContext();
    std::uint32_t dataAddress();
    void sendBytes(const std::vector<std::uint8_t>& bytes);
    // Runs a flash tool off the window thread: the other senders wait, "Cancel" stays
    // enabled until the tool has ended, and a close request cancels it as "Cancel" does.
    void runCancellable(const std::function<void()>& job);

    // The window's side of a download on the receive thread: the port marked busy meanwhile.
    void downloadStarted();
    void downloadEnded();

    TfrmMain& form_;
    // Set by "Cancel" or a close request; read between blocks by the flash tools and the
    // download (never both at once: each holds the port).
    std::atomic<bool> cancel_ {false};
    std::unique_ptr<PortBusy> downloadBusy_;
    largemotor::AddressCheckState addressCheck_;
    // The file names as the download reads them from the receive thread.
    std::mutex filesMutex_;
    std::string firmwareFile_;
    std::string alteraFile_;
};

}  // namespace vindelor::app
