#include "app/MotorTestPanel.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "app/GuardedApplication.h"
#include "app/PortBusy.h"
#include "app/PortComboBox.h"
#include "app/Winbinform.h"

namespace vindelor::app {

namespace {

QPushButton* Button(const char* name, const char* caption) {
    auto* button = new QPushButton(QString::fromLatin1(caption));
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

// A number box with its up-down control: the spin box carries the up-down's name, its text
// box the edit's.
QSpinBox* UpDown(const char* name, const char* editName, int min, int max, int start) {
    auto* box = new QSpinBox;
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(min, max);
    box->setValue(start);
    if (auto* edit = box->findChild<QLineEdit*>()) edit->setObjectName(QString::fromLatin1(editName));
    return box;
}

// Precise: a coarse timer may fire up to 5 % early, and these intervals are the test's own.
QTimer* Timer(QObject* parent, const char* name, int ms) {
    auto* timer = new QTimer(parent);
    timer->setObjectName(QString::fromLatin1(name));
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(ms);
    return timer;
}

}  // namespace

MotorTestPanel::MotorTestPanel(TfrmMain& form, QWidget* parent) : QWidget(parent), form_(form) {
    setObjectName(QStringLiteral("MotorTestPanel"));
    btnBreakTest = Button("btnBreakTest", "Break Test");
    tiBreakTest = Timer(this, "tiBreakTest", modules::kBreakTestIntervalMs);
    btnStartRotate = Button("btnStartRotate", "Start manual rotate");
    btnStopRotate = Button("btnStopRotate", "Stop rotate");
    udRotate = UpDown("udRotate", "edRotateRate", modules::kIncrementMin, modules::kIncrementMax,
                      modules::kIncrementStart);
    udTimerVal = UpDown("udTimerVal", "edTimerVal", modules::kIntervalMinMs, modules::kIntervalMaxMs,
                        modules::kIntervalStartMs);
    tiRotate = Timer(this, "tiRotate", modules::kIntervalStartMs);

    auto* numbers = new QFormLayout;
    numbers->addRow(QStringLiteral("Increment"), udRotate);
    numbers->addRow(QStringLiteral("Update Interval [ms]"), udTimerVal);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(btnBreakTest);
    layout->addSpacing(8);
    layout->addLayout(numbers);
    layout->addWidget(btnStartRotate);
    layout->addWidget(btnStopRotate);
    layout->addStretch();

    connect(btnBreakTest, &QPushButton::clicked, this, [this] { guarded([this] { btnBreakTestClick(); }); });
    connect(tiBreakTest, &QTimer::timeout, this, [this] { guarded([this] { tiBreakTestTimer(); }); });
    connect(btnStartRotate, &QPushButton::clicked, this, [this] { guarded([this] { btnStartRotateClick(); }); });
    connect(tiRotate, &QTimer::timeout, this, [this] { guarded([this] { tiRotateTimer(); }); });
    connect(btnStopRotate, &QPushButton::clicked, this, [this] { guarded([this] { btnStopRotateClick(); }); });
    // The port is about to be replaced or the window destroyed: nothing may go on turning.
    connect(&form_, &TfrmMain::portClosing, this, [this] {
        stopBreakTest();
        if (rotating()) {
            stopRotation();
        } else if (stopOwed_) {
            // The line it was owed on goes away now: a last try, then it is no one's.
            trySendStop();
            stopOwed_ = false;
        }
    });
    // The port was lost during a rotation and is back: the stop that could not go out goes now.
    connect(&form_, &TfrmMain::portRestored, this, [this] {
        if (stopOwed_) trySendStop();
    });
}

MotorTestPanel::~MotorTestPanel() = default;

void MotorTestPanel::guarded(const std::function<void()>& handler) { RunGuarded(form_.notifier(), handler); }

bool MotorTestPanel::breakTestRunning() const { return tiBreakTest->isActive(); }

bool MotorTestPanel::rotating() const { return tiRotate->isActive(); }

void MotorTestPanel::btnBreakTestClick() {
    if (breakTestRunning()) {
        stopBreakTest();
        return;
    }
    tiBreakTest->start();
    // While the test writes, nothing else may start on the port; a close request ends it.
    breakBusy_ = std::make_unique<PortBusy>(form_, std::initializer_list<QWidget*> {btnBreakTest},
                                            [this] { QTimer::singleShot(0, this, [this] { stopBreakTest(); }); });
}

void MotorTestPanel::stopBreakTest() {
    tiBreakTest->stop();
    breakBusy_.reset();
}

void MotorTestPanel::tiBreakTestTimer() {
    form_.clearMemos();
    try {
        breakTest.Tick(form_.sender());
    } catch (...) {
        stopBreakTest();
        throw;
    }
}

void MotorTestPanel::btnStartRotateClick() {
    try {
        modules::Rotation::Start(form_.sender());
    } catch (...) {
        // Part of the start may have gone out.
        trySendStop();
        throw;
    }
    tiRotate->setInterval(udTimerVal->value());
    tiRotate->start();
    if (!rotateBusy_)
        // The port box stays: changing the port stops the rotation first (portClosing).
        rotateBusy_ = std::make_unique<PortBusy>(
            form_, std::initializer_list<QWidget*> {btnStartRotate, btnStopRotate, form_.cbComPort, form_.cbBaudrate},
            [this] { QTimer::singleShot(0, this, [this] { stopRotation(); }); });
}

void MotorTestPanel::tiRotateTimer() {
    try {
        rotation.Tick(form_.sender(), form_.notifier(), udRotate->value());
    } catch (...) {
        // As "Stop rotate", where the port still takes it; the first failure is the one shown.
        tiRotate->stop();
        rotateBusy_.reset();
        trySendStop();
        throw;
    }
    form_.clearMemos();
}

void MotorTestPanel::btnStopRotateClick() {
    tiRotate->stop();
    rotateBusy_.reset();
    sendStop();
}

void MotorTestPanel::sendStop() {
    try {
        modules::Rotation::Stop(form_.sender());
    } catch (...) {
        stopOwed_ = true;
        throw;
    }
    stopOwed_ = false;
}

void MotorTestPanel::trySendStop() {
    try {
        sendStop();
    } catch (...) {
    }
}

void MotorTestPanel::stopRotation() { guarded([this] { btnStopRotateClick(); }); }

}  // namespace vindelor::app
