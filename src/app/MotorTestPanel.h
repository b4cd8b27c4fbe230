#pragma once

#include <QWidget>

#include <functional>
#include <memory>

#include "modules/MotorTests.h"

class QPushButton;
class QSpinBox;
class QTimer;

namespace vindelor::app {

class PortBusy;
class TfrmMain;

// The motor tests of the "BigVx" tab: "Break Test" switches register 2 between 3 and 0 every
// 500 ms; the manual rotation sets register 2 to 7 and steps register 176 at a chosen rate.
//
// A test stops at its first failed write (a vanished port would otherwise raise an error box
// every tick), and a rotation never goes on unattended: closing the window or replacing the
// port stops it as "Stop rotate" does. A stop write that fails (the port was lost) is owed,
// and goes out when the port comes back.
class MotorTestPanel : public QWidget {
    Q_OBJECT
public:
    MotorTestPanel(TfrmMain& form, QWidget* parent);
    ~MotorTestPanel() override;

    void btnBreakTestClick();
    void tiBreakTestTimer();
    void btnStartRotateClick();
    void tiRotateTimer();
    void btnStopRotateClick();
    bool breakTestRunning() const;
    bool rotating() const;

    QPushButton* btnBreakTest;
    QTimer* tiBreakTest;
    QPushButton* btnStartRotate;
    QPushButton* btnStopRotate;
    QSpinBox* udRotate;    // its text box is edRotateRate
    QSpinBox* udTimerVal;  // its text box is edTimerVal
    QTimer* tiRotate;

    modules::BreakTest breakTest;
    modules::Rotation rotation;

private:
    void stopBreakTest();
    // The rotation's timer off and register 2 = 0; a failure of that write is reported.
    void stopRotation();
    // Register 2 = 0; a failure leaves the stop owed and is thrown.
    void sendStop();
    // The same, its failure left unsaid (another failure is being reported, or nobody asked).
    void trySendStop();
    void guarded(const std::function<void()>& handler);

    TfrmMain& form_;
    std::unique_ptr<PortBusy> breakBusy_;
    std::unique_ptr<PortBusy> rotateBusy_;
    bool stopOwed_ = false;
};

}  // namespace vindelor::app
