#include "app/PortBusy.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include <algorithm>

#include "app/PortComboBox.h"
#include "app/Winbinform.h"

namespace vindelor::app {

namespace {

// Controls that send without being buttons (the register list sends on its keys) carry
// this property.
constexpr char kSendsProperty[] = "vindelorSends";

}  // namespace

void MarkAsSender(QWidget* widget) {
    widget->setProperty(kSendsProperty, true);
}

PortBusy::PortBusy(TfrmMain& window, std::initializer_list<QWidget*> keepEnabled,
                   std::function<void()> cancel)
    : window_(window) {
    std::vector<QWidget*> candidates{window.cbComPort, window.cbBaudrate, window.edAddress,
                                     window.edGroup};
    for (QWidget* w : window.PageControl1->findChildren<QWidget*>())
        if (qobject_cast<QPushButton*>(w) || w->property(kSendsProperty).toBool())
            candidates.push_back(w);
    for (QWidget* w : candidates) {
        if (!w->isEnabled()) continue;
        if (std::find(keepEnabled.begin(), keepEnabled.end(), w) != keepEnabled.end()) continue;
        w->setEnabled(false);
        disabled_.emplace_back(w);
    }
    window_.beginPortOperation(std::move(cancel));
}

PortBusy::~PortBusy() {
    for (const auto& w : disabled_)
        if (w) w->setEnabled(true);
    window_.endPortOperation();
}

}  // namespace vindelor::app
