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

// The "Profi" tab: reads and writes the Profibus data bytes of a fieldbus module and dumps
// its 256-byte debug area.
class ProfiTab : public QWidget {
    Q_OBJECT
public:
    explicit ProfiTab(TfrmMain& form);

    void btnReadClick();
    void btnProfiWriteClick();
    void Button21Click();
    // The '@' reply (MsgFieldbusData) and the 'C' reply (MsgDebugData).
    void onFieldbusData(std::span<const std::uint8_t> bytes);
    void onDebugData(std::span<const std::uint8_t> bytes);

    QLabel* lblProfiData;
    QPushButton* btnRead;
    QPushButton* btnProfiWrite;
    QLineEdit* edWriteData;
    QPushButton* Button21;

private:
    void guarded(const std::function<void()>& handler);
    TfrmMain& form_;
};

}  // namespace vindelor::app
