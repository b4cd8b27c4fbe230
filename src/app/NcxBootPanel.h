#pragma once

#include <QWidget>

#include <functional>

#include "largemotor/FlashTools.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace vindelor::app {

class TfrmMain;

// The bootloader tools of the "VXM-NC" tab: the XC164 bootstrap with a RAM bootloader
// ("Send Bootloader"), the module reset, and "Load NCx Bootloader", which checks every answer
// and writes the flash bootloader; the latter runs off the window thread.
class NcxBootPanel : public QWidget {
    Q_OBJECT
public:
    explicit NcxBootPanel(TfrmMain& form);

    void btnSendBooterClick();
    void btnNCxResetClick();
    void btnLoadFirmwareClick();

    QLineEdit* edBooterFile;
    QCheckBox* cbPreload2;
    QPushButton* btnSendBooter;
    QPushButton* btnNCxReset;
    QPushButton* btnLoadFirmware;

    // The pauses of the tools when set (tests shorten the long ones); otherwise the real ones.
    largemotor::Sleep sleep;

private:
    void guarded(const std::function<void()>& handler);
    TfrmMain& form_;
};

}  // namespace vindelor::app
