#include "app/HiddenTabs.h"

#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabWidget>

#include "app/BasicTab.h"
#include "app/VarpTab.h"
#include "app/Winbinform.h"

namespace vindelor::app {

HiddenTabs::HiddenTabs(TfrmMain& window) : QObject(&window), window_(window) {
    window_.Label4->installEventFilter(this);
}

void HiddenTabs::decide(bool administrator) {
    if (administrator) {
        window_.tsBasic->btnLoadFilter->show();
        window_.tsBasic->edFilter->show();
        return;
    }
    for (QWidget* page : {window_.tsBigVx, window_.tsVXM_NC, static_cast<QWidget*>(window_.tsVarp)})
        window_.PageControl1->setTabVisible(window_.PageControl1->indexOf(page), false);
    window_.tsBasic->cbHexView->hide();
}

void HiddenTabs::reveal() {
    for (QWidget* page : {window_.tsBigVx, window_.tsVXM_NC, static_cast<QWidget*>(window_.tsVarp)})
        window_.PageControl1->setTabVisible(window_.PageControl1->indexOf(page), true);
    window_.tsBasic->cbHexView->show();
}

bool HiddenTabs::eventFilter(QObject* watched, QEvent* e) {
    if (watched == window_.Label4 && e->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton)
        window_.guarded([this] { Label4Click(); });
    return QObject::eventFilter(watched, e);
}

void HiddenTabs::Label4Click() {
    if (++versionClicks_ < kRevealClicks) return;
    versionClicks_ = 0;
    reveal();
}

}  // namespace vindelor::app
