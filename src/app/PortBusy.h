#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <initializer_list>
#include <vector>

namespace vindelor::app {

class TfrmMain;

// Marks a control that sends although it is no button (a list that sends on its keys), so
// PortBusy disables it too.
void MarkAsSender(QWidget* widget);

// While one operation owns the port (a firmware update, a flash read, the module poll, a
// timer-driven test), every control that would send or replace the port is disabled, so a
// second operation cannot start underneath it. The controls the operation itself needs (its
// Cancel or Stop button) stay as they are. A close request meanwhile runs `cancel` and the
// window closes once the last operation has ended.
class PortBusy {
  public:
    PortBusy(TfrmMain& window, std::initializer_list<QWidget*> keepEnabled = {},
             std::function<void()> cancel = {});
    ~PortBusy();
    PortBusy(const PortBusy&) = delete;
    PortBusy& operator=(const PortBusy&) = delete;

  private:
    TfrmMain& window_;
    std::vector<QPointer<QWidget>> disabled_;
};

}  // namespace vindelor::app
