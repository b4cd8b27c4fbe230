#pragma once

#include <QTimer>
#include <QWidget>

#include <array>
#include <chrono>
#include <memory>
#include <span>

#include "protocol/Sender.h"
#include "registers/Scope.h"

class QChartView;
class QComboBox;
class QLabel;
class QLineSeries;
class QPushButton;
class QValueAxis;

namespace vindelor::app {

class PortBusy;
class TfrmMain;

// The scope: a live plot of the four channels that the register tab's sample selectors
// choose. "Run" sends sample requests back to back (the next as soon as a row is in, or after
// a time-out) and plots each row at the time it arrived; "Stop" ends the run, and a stopped
// trace can be zoomed with the mouse (drag a rectangle; right click zooms out). The plot shows
// at most two points per pixel column of each channel, the minimum and the maximum of the rows
// that fall there; every row is kept for "Export CSV".
class ScopeTab : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 100;  // plot updates while running

    explicit ScopeTab(TfrmMain& window);
    ~ScopeTab() override;

    // A sample row from the receive thread. False when no run is going on (and the reply to
    // the last request of a stopped run is not due any more): the row then belongs to the
    // sample table.
    bool onSampleRow(std::span<const std::uint8_t> payload);

    void run();
    void stop();
    bool running() const { return busy_ != nullptr; }
    // Seconds of the time window the plot scrolls through.
    double windowSeconds() const;

    // The buttons' work without their file dialogs; false, with a warning box, on failure.
    bool exportCsv(const QString& path);
    bool saveImage(const QString& path);

    const registers::ScopeRecording& recording() const { return rec_; }
    // The points plotted for a channel now (at most two per pixel column).
    int plottedPoints(int channel) const;
    // The read-out of the row nearest to a time, as the cursor shows it.
    QString readoutAt(double seconds) const;
    // Redraws the plot at once (the timer does it every kRefreshMs while running).
    void refreshPlot();

    QPushButton* btnScopeRun;
    QPushButton* btnScopeStop;
    QComboBox* cbScopeWindow;
    QPushButton* btnScopeExport;
    QPushButton* btnScopeImage;
    QLabel* lblScopeRate;
    QLabel* lblScopeCursor;
    QChartView* chScope;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    using Clock = std::chrono::steady_clock;
    void sendNext();
    void takeChannels();
    void plotRange(double from, double to);
    void showRate();

    TfrmMain& window_;
    protocol::Sender sender_;  // the scope's requests go out without the "Send" echo
    registers::ScopeRecording rec_;
    registers::SampleLoop loop_;
    // After Stop, the reply to the last request still belongs to the run until its time-out.
    bool lastReplyOut_ = false;
    std::unique_ptr<PortBusy> busy_;
    Clock::time_point start_ {};
    QTimer timeout_;
    QTimer refresh_;
    std::array<QLineSeries*, registers::kScopeChannels> series_ {};
    QValueAxis* axisX_;
    QValueAxis* axisY_;
    bool plotting_ = false;  // axis changes made by the plot itself
};

}  // namespace vindelor::app
