#pragma once

#include <QWidget>

#include <set>
#include <string>

#include "registers/RegisterList.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace vindelor::app {

class ParameterTools;
class TfrmMain;

// The "VxBasic" tab: the register list with its keyboard commands, the bit-field list, the
// sample table, the device command buttons and, in administrator mode, "Load filter".
// The register list model does the work; this widget shows its lines and hands it the keys
// and clicks.
class BasicTab : public QWidget, public registers::RegisterListHost {
    Q_OBJECT
public:
    static constexpr int kNrColumnWidth = 40;
    static constexpr int kSampleColumnWidth = 80;

    explicit BasicTab(TfrmMain& form);

    // Reloads the definitions and rebuilds the lists (the "load parameters" action). A reload
    // the user did not ask for (window activation, start-up) shows a load error only when it
    // differs from the errors of the previous load, so a broken file is reported once and not
    // again after every message box that activates the window.
    void reload(bool userAsked);
    void btnLoadFilterClick();

    registers::RegisterList list {*this};

    QListWidget* lbParams;
    QListWidget* lbBitInfo;
    QTreeWidget* lvSample;
    QPushButton* btnClearSample;
    QPushButton* btnReset;
    QPushButton* btnWriteToFlash;
    QPushButton* btnEnterSafe;
    QPushButton* btnExitSafe;
    QCheckBox* cbHexView;
    QPlainTextEdit* meSaveVals;
    QLineEdit* edFilter;
    QPushButton* btnLoadFilter;
    // "Scan bus...", "Save parameters...", "Compare with file...", "Restore from file...".
    ParameterTools* paramTools;

    // RegisterListHost
    protocol::Sender& sender() override;
    protocol::Notifier& notifier() override;
    void clearMemos() override;
    std::optional<std::string> askValue(const std::string& registerName) override;
    void pause(int ms) override;
    void openEditor(const std::string& path) override;
    void listRebuilt() override;
    void lineChanged(int index) override;
    void bitFieldsChanged() override;
    void sampleRowAdded() override;
    void samplesCleared() override;
    void sampleColumnChanged(int column) override;
    void saveValsChanged() override;
    void altFilesChanged() override;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    // Passes load errors on, leaving out the repeats of the last load when asked to.
    class ReloadNotifier : public protocol::Notifier {
    public:
        explicit ReloadNotifier(BasicTab& tab) : tab_(tab) {}
        void warning(const std::string& caption, const std::string& text) override;
        void information(const std::string& caption, const std::string& text) override;

    private:
        BasicTab& tab_;
    };

    void buildControls();
    void lbParamsKeyPress(char key);
    int selectedLine() const;
    void command(void (registers::RegisterList::*click)());
    void guarded(const std::function<void()>& handler);

    TfrmMain& form_;
    ReloadNotifier reloadNotifier_ {*this};
    bool inReload_ = false;
    bool quietRepeats_ = false;
    std::set<std::string> lastLoadErrors_;
    std::set<std::string> loadErrors_;
    int saveValsShown_ = 0;
};

}  // namespace vindelor::app
