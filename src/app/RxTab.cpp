#include "app/RxTab.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/CaptionText.h"
#include "app/GuardedApplication.h"
#include "app/Winbinform.h"
#include "modules/DebugViews.h"

namespace vindelor::app {

RxTab::RxTab(TfrmMain& form) : form_(form) {
    setObjectName(QStringLiteral("tsPicoPLC"));
    lblDebugInfo = new QLabel(CaptionText(modules::kDebugInfoStart));
    lblDebugInfo->setObjectName(QStringLiteral("lblDebugInfo"));
    lblDebugInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The status text lines up its values with tabs, shown as spaces in a fixed-pitch font.
    lblDebugInfo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    lblDebugInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    btnReadDebug = new QPushButton(QStringLiteral("Read Debug Info"));
    btnReadDebug->setObjectName(QStringLiteral("btnReadDebug"));
    btnPicoReset = new QPushButton(QStringLiteral("Software reset"));
    btnPicoReset->setObjectName(QStringLiteral("btnPicoReset"));
    btnPicoStop = new QPushButton(QStringLiteral("Stop program"));
    btnPicoStop->setObjectName(QStringLiteral("btnPicoStop"));

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(btnReadDebug);
    buttons->addWidget(btnPicoReset);
    buttons->addWidget(btnPicoStop);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(lblDebugInfo, 1);
    layout->addLayout(buttons);

    connect(btnReadDebug, &QPushButton::clicked, this, [this] { guarded([this] { btnReadDebugClick(); }); });
    connect(btnPicoReset, &QPushButton::clicked, this, [this] { guarded([this] { btnPicoResetClick(); }); });
    connect(btnPicoStop, &QPushButton::clicked, this, [this] { guarded([this] { btnPicoStopClick(); }); });
}

void RxTab::guarded(const std::function<void()>& handler) { RunGuarded(form_.notifier(), handler); }

void RxTab::btnReadDebugClick() {
    form_.clearMemos();
    lblDebugInfo->setText(CaptionText(modules::kDebugInfoWaiting));
    modules::SendDebugRequest(form_.sender(), modules::DebugCmd::ReadDebugInfo);
}

void RxTab::btnPicoResetClick() {
    form_.clearMemos();
    modules::SendDebugRequest(form_.sender(), modules::DebugCmd::SoftwareReset);
}

void RxTab::btnPicoStopClick() {
    form_.clearMemos();
    modules::SendDebugRequest(form_.sender(), modules::DebugCmd::StopProgram);
}

void RxTab::onDebugInfo(std::span<const std::uint8_t> block) {
    lblDebugInfo->setText(TabsExpanded(CaptionText(modules::DebugStatusText(block))));
}

}  // namespace vindelor::app
