#pragma once

#include <QObject>

namespace vindelor::app {

class TfrmMain;

// The tabs and controls an engineer at a customer's machine does not see: the large-motor,
// fieldbus-module and program-module tabs and the hex view. They show in administrator mode
// (the setting "KyvaneAdmin"), and for the rest of the run after kRevealClicks clicks on the
// version label. The filter-file controls show in administrator mode only.
class HiddenTabs : public QObject {
  public:
    static constexpr int kRevealClicks = 5;

    // Watches the window's version label; call decide() once the settings are readable.
    explicit HiddenTabs(TfrmMain& window);

    // Hides what administrator mode alone shows, or shows the filter-file controls in it.
    void decide(bool administrator);
    void reveal();

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    void Label4Click();

    TfrmMain& window_;
    int versionClicks_ = 0;
};

}  // namespace vindelor::app
