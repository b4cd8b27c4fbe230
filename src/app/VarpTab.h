#pragma once

#include <QWidget>

#include <array>
#include <cstdint>
#include <span>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vindelor::app {

class TfrmMain;

// The "VARP" tab: pings the programmable module, sends it a control command and shows the
// state it reports, and writes a program file to it.
class VarpTab : public QWidget {
    Q_OBJECT
public:
    explicit VarpTab(TfrmMain& form);

    void btnPingModuleClick();
    void btnGetInfoClick();
    void btnWriteProgramClick();
    // The status reply of the module (MsgModuleInfo).
    void onModuleInfo(std::span<const std::uint8_t> reply);

    QLabel* lblVarpInfo;
    QPushButton* btnPingModule;
    QPushButton* btnGetInfo;
    QComboBox* cbCommand;
    std::array<QCheckBox*, 4> cbOut {};
    QLineEdit* edProgram;
    QPushButton* btnWriteProgram;

private:
    void guarded(const std::function<void()>& handler);
    TfrmMain& form_;
};

}  // namespace vindelor::app
