#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <span>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vindelor::app {

class TfrmMain;

// The "VXM-NSx" tab of the group-write module: its status, a group write with an explicit
// group and sequence, and the module's own registers.
class GroupModuleTab : public QWidget {
    Q_OBJECT
public:
    explicit GroupModuleTab(TfrmMain& form);

    void btnFS_StatusClick();
    void btnSendGroupClick();
    void Button12Click();
    void Button13Click();
    // The 'X' reply (MsgModuleStatus) and the '[' reply (MsgModuleRegister).
    void onModuleStatus(std::span<const std::uint8_t> block);
    void onModuleRegister(int registerNumber, std::uint32_t value);

    QLabel* lblFSStatus;
    QPushButton* btnFS_Status;
    QLineEdit* edGroupID;
    QLineEdit* edGroupReg;
    QLineEdit* edGroupValue;
    QLineEdit* edSequence;
    QPushButton* btnSendGroup;
    QLineEdit* edModuleRegister;
    QLineEdit* edModuleValue;
    QPushButton* Button12;
    QPushButton* Button13;
    QLineEdit* edModuleReadValue;

private:
    void guarded(const std::function<void()>& handler);
    TfrmMain& form_;
};

}  // namespace vindelor::app
