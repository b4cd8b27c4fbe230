#pragma once

#include <QDialog>

#include <atomic>
#include <functional>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace vindelor::app {

// The dialog of "Save parameters...", "Compare with file..." and "Restore from file...": what
// it is doing, a progress bar with Cancel while the device is read or written, and (compare
// and restore) the table of the registers that differ: name, the file's value, the device's,
// and after a restore what each register read back.
class ParameterDialog : public QDialog {
    Q_OBJECT
  public:
    enum class Mode { Save, Compare, Restore };
    static constexpr int kNameColumn = 0;
    static constexpr int kFileColumn = 1;
    static constexpr int kDeviceColumn = 2;
    static constexpr int kReadBackColumn = 3;

    ParameterDialog(QWidget* parent, Mode mode, const QString& title);

    Mode mode() const { return mode_; }
    // While work runs: Cancel on (when it can stop), Close and Restore off.
    void setRunning(bool on, bool cancellable = true);
    bool running() const { return running_; }
    void setProgress(int done, int total);

    // Set by Cancel and by closing the dialog while work runs.
    std::atomic<bool> cancel{false};
    // What "Restore" does.
    std::function<void()> onRestore;

    QLabel* lblParams;
    QProgressBar* pbParams;
    QTreeWidget* lvParamsDiff;
    QCheckBox* cbParamsAll;    // compare: every register, not only the restorable ones
    QCheckBox* cbParamsForce;  // restore: a file saved from other firmware all the same
    QPushButton* btnParamsRestore;
    QPushButton* btnParamsCancel;
    QPushButton* btnParamsClose;

  protected:
    void closeEvent(QCloseEvent* e) override;
    void reject() override;

  private:
    Mode mode_;
    bool running_ = false;
};

}  // namespace vindelor::app
