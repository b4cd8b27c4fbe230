#include "app/GroupModuleTab.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/BasicTab.h"
#include "app/CaptionText.h"
#include "app/GuardedApplication.h"
#include "app/Winbinform.h"
#include "modules/GroupModule.h"

namespace vindelor::app {

namespace {

QLineEdit* Box(const char* name, const char* text) {
    auto* box = new QLineEdit(QString::fromLatin1(text));
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

QPushButton* Button(const char* name, const char* caption) {
    auto* button = new QPushButton(QString::fromLatin1(caption));
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

}  // namespace

GroupModuleTab::GroupModuleTab(TfrmMain& form) : form_(form) {
    setObjectName(QStringLiteral("tsFS"));
    lblFSStatus = new QLabel(CaptionText(modules::kStatusStart));
    lblFSStatus->setObjectName(QStringLiteral("lblFSStatus"));
    lblFSStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblFSStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    btnFS_Status = Button("btnFS_Status", "Get Status");
    edGroupID = Box("edGroupID", "5");
    edGroupReg = Box("edGroupReg", "3");
    edGroupValue = Box("edGroupValue", "1234");
    edSequence = Box("edSequence", "1");
    btnSendGroup = Button("btnSendGroup", "Group Write");
    edModuleRegister = Box("edModuleRegister", "11");
    edModuleValue = Box("edModuleValue", "1");
    Button12 = Button("Button12", "Write module register");
    Button13 = Button("Button13", "Read module register");
    edModuleReadValue = Box("edModuleReadValue", "");
    edModuleReadValue->setReadOnly(true);

    auto* status = new QVBoxLayout;
    status->addWidget(lblFSStatus, 1);
    status->addWidget(btnFS_Status);

    auto* group = new QGroupBox(QStringLiteral("Group write"));
    auto* groupForm = new QFormLayout(group);
    groupForm->addRow(QStringLiteral("Group ID"), edGroupID);
    groupForm->addRow(QStringLiteral("Register"), edGroupReg);
    groupForm->addRow(QStringLiteral("Value"), edGroupValue);
    groupForm->addRow(QStringLiteral("Sequence"), edSequence);
    groupForm->addRow(btnSendGroup);

    auto* module = new QGroupBox(QStringLiteral("Module register"));
    auto* moduleForm = new QFormLayout(module);
    moduleForm->addRow(QStringLiteral("Register"), edModuleRegister);
    moduleForm->addRow(QStringLiteral("Value"), edModuleValue);
    moduleForm->addRow(Button12);
    moduleForm->addRow(Button13);
    moduleForm->addRow(edModuleReadValue);

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(status, 1);
    layout->addWidget(group);
    layout->addWidget(module);

    connect(btnFS_Status, &QPushButton::clicked, this, [this] { guarded([this] { btnFS_StatusClick(); }); });
    connect(btnSendGroup, &QPushButton::clicked, this, [this] { guarded([this] { btnSendGroupClick(); }); });
    connect(Button12, &QPushButton::clicked, this, [this] { guarded([this] { Button12Click(); }); });
    connect(Button13, &QPushButton::clicked, this, [this] { guarded([this] { Button13Click(); }); });
}

void GroupModuleTab::guarded(const std::function<void()>& handler) { RunGuarded(form_.notifier(), handler); }

void GroupModuleTab::btnFS_StatusClick() {
    form_.clearMemos();
    modules::SendModuleStatusRequest(form_.sender());
}

void GroupModuleTab::btnSendGroupClick() {
    form_.clearMemos();
    const modules::GroupWriteTexts texts {ToCp1252(edGroupID->text()), ToCp1252(edSequence->text()),
                                          ToCp1252(edGroupReg->text()), ToCp1252(edGroupValue->text())};
    modules::SendModuleGroupWrite(form_.sender(), form_.tsBasic->list.defs, texts,
                                  [this](const std::string& next) { edSequence->setText(FromCp1252(next)); });
}

void GroupModuleTab::Button12Click() {
    form_.clearMemos();
    modules::SendModuleRegisterWrite(form_.sender(), ToCp1252(edModuleRegister->text()),
                                     ToCp1252(edModuleValue->text()));
}

void GroupModuleTab::Button13Click() {
    form_.clearMemos();
    modules::SendModuleRegisterRead(form_.sender(), ToCp1252(edModuleRegister->text()));
}

void GroupModuleTab::onModuleStatus(std::span<const std::uint8_t> block) {
    lblFSStatus->setText(CaptionText(modules::ModuleStatusText(block)));
}

void GroupModuleTab::onModuleRegister(int registerNumber, std::uint32_t value) {
    edModuleReadValue->setText(FromCp1252(modules::ModuleRegisterText(registerNumber, value)));
}

}  // namespace vindelor::app
