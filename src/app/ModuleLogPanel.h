#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "modules/ModulePoll.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace vindelor::app {

class PortBusy;
class TfrmMain;

// The polling log of the "VXM-NC" tab: "Start Poll" asks the fieldbus module for its text every
// 10 ms and appends what it sends; "Clear Log" and "FileDump" empty and save the log.
//
// The exchange runs on a thread of its own (the module may keep it waiting for seconds); the
// receive thread is paused and the other senders are disabled while the poll owns the port.
class ModuleLogPanel : public QWidget {
    Q_OBJECT
public:
    ModuleLogPanel(TfrmMain& form, QWidget* parent);
    ~ModuleLogPanel() override;

    void Button22Click();
    void Button23Click();
    void Button24Click();
    bool polling() const { return poller_ != nullptr; }
    // Ends a running poll and gives the port back to the receive thread.
    void stopPoll();
    // The log as the module sent it, line ends included.
    const std::string& log() const { return log_; }

    QPushButton* Button22;
    QLabel* Label20;
    QPlainTextEdit* RichEdit1;
    QPushButton* Button23;
    QPushButton* Button24;

private:
    void startPoll();
    void showRunning(bool running);
    void appendText(const std::string& text);
    void pollFailed(const std::string& reason);
    void guarded(const std::function<void()>& handler);

    TfrmMain& form_;
    std::unique_ptr<PortBusy> busy_;
    std::unique_ptr<modules::ModulePoller> poller_;
    std::string log_;
};

}  // namespace vindelor::app
