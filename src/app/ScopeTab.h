#pragma once

#include <QTimer>
#include <QWidget>

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <span>

#include "app/ScopeRows.h"
#include "app/ScopeSetup.h"
#include "protocol/Sender.h"
#include "registers/Scope.h"
#include "registers/ScopeTrigger.h"

class QAction;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace vindelor::app {

class PortBusy;
class ScopePlot;
class TfrmMain;

// The scope: a live plot of the four channels that the register tab's sample selectors
// choose. "Run" sends sample requests back to back (the next as soon as a row is in, or after
// a time-out) and plots each row at the time it arrived; "Stop" ends the run, and a stopped
// trace can be zoomed with the mouse (drag a rectangle; right click zooms out).
//
// Without a trigger ("Free run") the plot scrolls through the time window and every row is kept
// for "Export CSV". With one, the rows go through the core's trigger as they arrive: the plot
// shows a capture of the window's length, the pre-trigger time before time 0 (the first row
// through the level). "Auto" scrolls freely while no trigger comes, "Normal" waits and shows
// the last capture, "Single" stops after one. Only the recent history and the captures are
// kept then, so a run that waits all night for its trigger does not fill the memory.
//
// Two cursors on a stopped or triggered plot read out the time and the channels' values at
// each and their differences.
class ScopeTab : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRefreshMs = 100;  // plot updates while running
    static constexpr int kGrabPixels = 6;   // how near a cursor a press takes it

    explicit ScopeTab(TfrmMain& window);
    ~ScopeTab() override;

    // A sample row from the receive thread. False when no run is going on (and the reply to
    // the last request of a stopped run is not due any more): the row then belongs to the
    // sample table.
    bool onSampleRow(std::span<const std::uint8_t> payload);

    void run();
    void stop();
    bool running() const { return busy_ != nullptr; }
    // Seconds of the time window the plot shows.
    double windowSeconds() const;

    // The setup on the controls, and a stored one put on them.
    ScopeSetup setup() const;
    void applySetup(const ScopeSetup& setup);

    // The buttons' work without their file dialogs; false, with a warning box, on failure.
    // Both hold what the plot shows: every row of a free run, or the capture with its times
    // from the trigger.
    bool exportCsv(const QString& path);
    bool saveImage(const QString& path);

    // Every row of a free run.
    const registers::ScopeRecording& recording() const { return rec_; }
    // The rows the plot shows now.
    ScopeRows shownRows() const;
    bool showingCapture() const { return view_ == View::Capture; }
    // The trigger of the run (null for a free run).
    const registers::ScopeTrigger* trigger() const { return trig_.get(); }
    // The points plotted for a channel now (at most two per pixel column).
    int plottedPoints(int channel) const;
    // The read-out of the row nearest to a time, as the mouse shows it.
    QString readoutAt(double seconds) const;
    // Redraws the plot at once (the timer does it every kRefreshMs while running).
    void refreshPlot();

    // Cursors are there on a stopped plot and on a capture.
    bool cursorsAvailable() const;
    // Puts cursor 0 (A) or 1 (B) on the row nearest the time.
    void setCursor(int which, double seconds);
    std::optional<double> cursorTime(int which) const {
        return cursors_[static_cast<std::size_t>(which)];
    }

    QPushButton* btnScopeRun;
    QPushButton* btnScopeStop;
    QComboBox* cbScopeWindow;
    QPushButton* btnScopeExport;
    QPushButton* btnScopeImage;
    QLabel* lblScopeRate;
    QComboBox* cbScopeTrigger;  // "Free run", "Auto", "Normal", "Single"
    QComboBox* cbScopeTriggerChannel;
    QComboBox* cbScopeTriggerEdge;
    QLineEdit* edScopeTriggerLevel;
    QDoubleSpinBox* sbScopePre;
    QLabel* lblScopeTrigger;  // what the trigger does now
    QCheckBox* cbScopeCursors;
    QToolButton* btnScopeAxes;
    std::array<QAction*, registers::kScopeChannels> actScopeOwnAxis{};
    QLabel* lblScopeCursor;   // the row under the mouse
    QLabel* lblScopeReadout;  // the cursors' read-out
    ScopePlot* chScope;

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
    void showEvent(QShowEvent* e) override;

  private:
    using Clock = std::chrono::steady_clock;
    enum class View { Recording, History, Capture };

    void buildControls();
    void sendNext();
    void takeChannels();
    void showChannelNames();
    int mode() const;
    double preSeconds() const;
    // A new trigger from the controls (a new run, or a change of its setup during one).
    void startTrigger();
    void triggerSetupChanged();
    void modeChanged();
    void showRate();
    void showTriggerState();
    void updateCursors();
    // Puts the cursors that have no place yet (or, when asked, are out of sight) across the plot.
    void placeCursors(bool outOfSightToo);
    QString cursorReadout() const;
    int cursorNear(double column) const;

    TfrmMain& window_;
    protocol::Sender sender_;  // the scope's requests go out without the "Send" echo
    registers::ScopeRecording rec_;
    std::unique_ptr<registers::ScopeTrigger> trig_;
    View view_ = View::Recording;
    registers::SampleLoop loop_;
    // After Stop, the reply to the last request still belongs to the run until its time-out.
    bool lastReplyOut_ = false;
    std::unique_ptr<PortBusy> busy_;
    Clock::time_point start_{};
    QTimer timeout_;
    QTimer refresh_;
    double level_ = 0;  // the last level typed that reads as a number
    std::array<std::optional<double>, 2> cursors_{};
    int dragging_ = -1;  // the cursor being dragged
};

}  // namespace vindelor::app
