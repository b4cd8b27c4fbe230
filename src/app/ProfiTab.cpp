#include "app/ProfiTab.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "app/CaptionText.h"
#include "app/GuardedApplication.h"
#include "app/Winbinform.h"
#include "modules/DebugViews.h"

namespace vindelor::app {

ProfiTab::ProfiTab(TfrmMain& form) : form_(form) {
    setObjectName(QStringLiteral("tsProfi"));
    lblProfiData = new QLabel(CaptionText(modules::kProfiDataStart));
    lblProfiData->setObjectName(QStringLiteral("lblProfiData"));
    lblProfiData->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Columns of hex bytes and tab-aligned binary digits want a fixed-width font.
    lblProfiData->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    lblProfiData->setTextInteractionFlags(Qt::TextSelectableByMouse);
    btnRead = new QPushButton(QStringLiteral("Read Profi Data"));
    btnRead->setObjectName(QStringLiteral("btnRead"));
    btnProfiWrite = new QPushButton(QStringLiteral("Write Profi Data"));
    btnProfiWrite->setObjectName(QStringLiteral("btnProfiWrite"));
    edWriteData = new QLineEdit;
    edWriteData->setObjectName(QStringLiteral("edWriteData"));
    edWriteData->setToolTip(QStringLiteral("Up to 9 values, separated by ',', ';' or blanks"));
    Button21 = new QPushButton(QStringLiteral("ReadDbgData"));
    Button21->setObjectName(QStringLiteral("Button21"));

    auto* controls = new QVBoxLayout;
    controls->addWidget(btnRead);
    controls->addWidget(edWriteData);
    controls->addWidget(btnProfiWrite);
    controls->addWidget(Button21);
    controls->addStretch();
    // The debug area dump is 32 lines: taller than the tab.
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(lblProfiData);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(scroll, 1);
    layout->addLayout(controls);

    connect(btnRead, &QPushButton::clicked, this, [this] { guarded([this] { btnReadClick(); }); });
    connect(btnProfiWrite, &QPushButton::clicked, this, [this] { guarded([this] { btnProfiWriteClick(); }); });
    connect(Button21, &QPushButton::clicked, this, [this] { guarded([this] { Button21Click(); }); });
}

void ProfiTab::guarded(const std::function<void()>& handler) { RunGuarded(form_.notifier(), handler); }

void ProfiTab::btnReadClick() {
    form_.clearMemos();
    lblProfiData->setText(CaptionText(modules::kProfiDataWaiting));
    modules::SendDebugRequest(form_.sender(), modules::DebugCmd::ReadProfiData);
}

void ProfiTab::btnProfiWriteClick() {
    form_.clearMemos();
    const auto bytes = modules::ParseProfiData(ToCp1252(edWriteData->text()));
    modules::SendDebugRequest(form_.sender(), modules::DebugCmd::WriteProfiData, bytes);
}

void ProfiTab::Button21Click() {
    form_.clearMemos();
    lblProfiData->setText(CaptionText(modules::kDebugDataWaiting));
    modules::SendDebugRequest(form_.sender(), modules::DebugCmd::ReadDebugData);
}

void ProfiTab::onFieldbusData(std::span<const std::uint8_t> bytes) {
    lblProfiData->setText(CaptionText(modules::ProfiDataText(bytes)));
}

void ProfiTab::onDebugData(std::span<const std::uint8_t> bytes) {
    lblProfiData->setText(CaptionText(modules::DebugAreaText(bytes)));
}

}  // namespace vindelor::app
