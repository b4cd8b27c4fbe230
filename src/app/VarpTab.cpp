#include "app/VarpTab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/Cp1252.h"
#include "app/GuardedApplication.h"
#include "app/Winbinform.h"
#include "program/VarpModule.h"

namespace vindelor::app {

namespace {

// The encoder log the program write rebuilds, in the current folder.
constexpr const char* kLogFile = "VarpWare.Log";

// The status text ends its lines with "\r"; the label breaks lines at "\n".
QString LabelText(const std::string& text) {
    QString s = FromCp1252(text);
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

}  // namespace

VarpTab::VarpTab(TfrmMain& form) : form_(form) {
    setObjectName(QStringLiteral("tsVarp"));
    lblVarpInfo = new QLabel(LabelText(std::string(program::kVarpInfoStart)));
    lblVarpInfo->setObjectName(QStringLiteral("lblVarpInfo"));
    lblVarpInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblVarpInfo->setMinimumHeight(80);
    btnPingModule = new QPushButton(QStringLiteral("Ping module"));
    btnPingModule->setObjectName(QStringLiteral("btnPingModule"));
    btnGetInfo = new QPushButton(QStringLiteral("Get Info"));
    btnGetInfo->setObjectName(QStringLiteral("btnGetInfo"));
    cbCommand = new QComboBox;
    cbCommand->setObjectName(QStringLiteral("cbCommand"));
    cbCommand->setEditable(true);
    for (auto name : program::kVarpCommandNames) cbCommand->addItem(FromCp1252(std::string(name)));
    // "NOP" shows, but no item is chosen until the user picks one.
    cbCommand->setCurrentIndex(-1);
    cbCommand->setEditText(QStringLiteral("NOP"));
    // Typed text chooses the command it names (in any case) or none; it never becomes an item.
    cbCommand->setInsertPolicy(QComboBox::NoInsert);
    connect(cbCommand, &QComboBox::editTextChanged, this, [this](const QString& text) {
        const int match = cbCommand->findText(text, Qt::MatchFixedString);
        if (match == cbCommand->currentIndex()) return;
        QLineEdit* edit = cbCommand->lineEdit();
        const int cursor = edit->cursorPosition();
        cbCommand->setCurrentIndex(match);  // this replaces the text with the item's
        edit->setText(text);
        edit->setCursorPosition(cursor);
    });
    auto* outputs = new QHBoxLayout;
    for (std::size_t i = 0; i < cbOut.size(); ++i) {
        cbOut[i] = new QCheckBox(QStringLiteral("Output %1").arg(i + 1));
        cbOut[i]->setObjectName(QStringLiteral("cbOut%1").arg(i + 1));
        outputs->addWidget(cbOut[i]);
    }
    outputs->addStretch();
    edProgram = new QLineEdit;
    edProgram->setObjectName(QStringLiteral("edProgram"));
    btnWriteProgram = new QPushButton(QStringLiteral("Write Program"));
    btnWriteProgram->setObjectName(QStringLiteral("btnWriteProgram"));

    auto* commands = new QHBoxLayout;
    commands->addWidget(btnPingModule);
    commands->addWidget(btnGetInfo);
    commands->addWidget(cbCommand, 1);
    auto* writing = new QHBoxLayout;
    writing->addWidget(edProgram, 1);
    writing->addWidget(btnWriteProgram);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblVarpInfo);
    layout->addLayout(commands);
    layout->addLayout(outputs);
    layout->addLayout(writing);
    layout->addStretch();

    connect(btnPingModule, &QPushButton::clicked, this, [this] { guarded([this] { btnPingModuleClick(); }); });
    connect(btnGetInfo, &QPushButton::clicked, this, [this] { guarded([this] { btnGetInfoClick(); }); });
    connect(btnWriteProgram, &QPushButton::clicked, this, [this] { guarded([this] { btnWriteProgramClick(); }); });
}

void VarpTab::guarded(const std::function<void()>& handler) { RunGuarded(form_.notifier(), handler); }

void VarpTab::btnPingModuleClick() {
    form_.clearMemos();
    program::SendPingModule(form_.sender());
}

void VarpTab::btnGetInfoClick() {
    lblVarpInfo->setText(LabelText(std::string(program::kVarpInfoWaiting)));
    form_.clearMemos();
    std::array<bool, 4> outputs {};
    for (std::size_t i = 0; i < cbOut.size(); ++i) outputs[i] = cbOut[i]->isChecked();
    const int shown = program::SendGetInfo(form_.sender(), cbCommand->currentIndex(), outputs);
    cbCommand->setCurrentIndex(shown);
}

void VarpTab::btnWriteProgramClick() {
    form_.clearMemos();
    // A long program takes 50 ms a chunk: the window keeps painting and handling replies
    // meanwhile, and the button cannot start a second write.
    btnWriteProgram->setEnabled(false);
    struct Enable {
        QPushButton* button;
        ~Enable() { button->setEnabled(true); }
    } enable {btnWriteProgram};
    program::WriteProgram(form_.sender(), edProgram->text().toLocal8Bit().toStdString(), kLogFile, [](std::chrono::milliseconds ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    });
}

void VarpTab::onModuleInfo(std::span<const std::uint8_t> reply) {
    lblVarpInfo->setText(LabelText(program::VarpStatusText(reply)));
}

}  // namespace vindelor::app
