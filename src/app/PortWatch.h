#pragma once

#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

#include "protocol/TraceWriter.h"

class QCheckBox;
class QLabel;

namespace vindelor::app {

class PortBusy;
class TfrmMain;

// The bottom row's watch over the port: the "Trace to file..." check box, which writes every
// byte sent and received to a trace file, and the status line that says when the port hangs
// up. While the port is lost the senders are disabled and the port is tried again about once
// a second (a timer, so the window keeps painting and nothing spins); when it opens the
// receive thread starts again and the line says "Port back".
class PortWatch : public QWidget {
    Q_OBJECT
public:
    static constexpr int kCheckMs = 200;    // how soon a hang-up is noticed
    static constexpr int kRetryMs = 1000;   // a try to open the lost port
    static constexpr int kTraceFlushMs = 500;

    explicit PortWatch(TfrmMain& window);
    ~PortWatch() override;

    // The tap every port of the window gets (nullptr while no trace runs).
    serial::TrafficTap* tap() const { return trace_.get(); }
    // Starts a trace into the file (replacing it); false, with a warning box, when it cannot
    // be written. Stops a running one first.
    bool startTrace(const QString& path);
    void stopTrace();
    bool tracing() const { return trace_ != nullptr; }
    bool portLost() const { return lost_ != nullptr; }

    QCheckBox* cbTrace;
    QLabel* lblPortStatus;

private:
    void cbTraceClick();
    void check();
    void retry();
    void endLost();

    TfrmMain& window_;
    std::unique_ptr<protocol::TraceWriter> trace_;
    // Finished traces stay until the window goes: a receive thread may still be inside a call
    // of the tap it loaded just before the tap was taken away.
    std::vector<std::unique_ptr<protocol::TraceWriter>> finished_;
    std::unique_ptr<PortBusy> lost_;
    QTimer checkTimer_;
    QTimer retryTimer_;
    QTimer traceTimer_;
};

}  // namespace vindelor::app
