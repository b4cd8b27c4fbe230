#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <span>

class QLabel;
class QPushButton;

namespace vindelor::app {

class TfrmMain;

// The "Rx" tab: reads the debug status block of the addressed device, and resets or stops
// its built-in program.
class RxTab : public QWidget {
    Q_OBJECT
public:
    explicit RxTab(TfrmMain& form);

    void btnReadDebugClick();
    void btnPicoResetClick();
    void btnPicoStopClick();
    // The '0' reply (MsgDebugInfo).
    void onDebugInfo(std::span<const std::uint8_t> block);

    QLabel* lblDebugInfo;
    QPushButton* btnReadDebug;
    QPushButton* btnPicoReset;
    QPushButton* btnPicoStop;

private:
    void guarded(const std::function<void()>& handler);
    TfrmMain& form_;
};

}  // namespace vindelor::app
