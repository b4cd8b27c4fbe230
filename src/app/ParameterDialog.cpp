#include "app/ParameterDialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace vindelor::app {

namespace {

constexpr int kDialogWidth = 640;
constexpr int kDialogHeight = 420;
constexpr int kSaveDialogHeight = 120;
constexpr int kNameWidth = 120;
constexpr int kValueWidth = 110;

QPushButton* Button(const char* name, const QString& caption) {
    auto* b = new QPushButton(caption);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

}  // namespace

ParameterDialog::ParameterDialog(QWidget* parent, Mode mode, const QString& title)
    : QDialog(parent), mode_(mode) {
    setObjectName(QStringLiteral("dlgParameters"));
    setWindowTitle(title);
    setModal(true);
    resize(kDialogWidth, mode == Mode::Save ? kSaveDialogHeight : kDialogHeight);

    lblParams = new QLabel;
    lblParams->setObjectName(QStringLiteral("lblParams"));
    lblParams->setWordWrap(true);
    lblParams->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pbParams = new QProgressBar;
    pbParams->setObjectName(QStringLiteral("pbParams"));
    pbParams->setRange(0, 1);
    pbParams->setValue(0);
    lvParamsDiff = new QTreeWidget;
    lvParamsDiff->setObjectName(QStringLiteral("lvParamsDiff"));
    lvParamsDiff->setRootIsDecorated(false);
    QStringList headers{QStringLiteral("Register"), QStringLiteral("File"),
                        QStringLiteral("Device")};
    if (mode == Mode::Restore) headers << QStringLiteral("Read back");
    lvParamsDiff->setHeaderLabels(headers);
    lvParamsDiff->setColumnWidth(kNameColumn, kNameWidth);
    lvParamsDiff->setColumnWidth(kFileColumn, kValueWidth);
    lvParamsDiff->setColumnWidth(kDeviceColumn, kValueWidth);
    lvParamsDiff->header()->setStretchLastSection(true);
    cbParamsAll =
        new QCheckBox(QStringLiteral("&All registers (also those a restore leaves alone)"));
    cbParamsAll->setObjectName(QStringLiteral("cbParamsAll"));
    cbParamsForce = new QCheckBox(QStringLiteral("Restore &all the same"));
    cbParamsForce->setObjectName(QStringLiteral("cbParamsForce"));
    cbParamsForce->hide();
    btnParamsRestore = Button("btnParamsRestore", QStringLiteral("&Restore"));
    btnParamsCancel = Button("btnParamsCancel", QStringLiteral("Cancel"));
    btnParamsClose = Button("btnParamsClose", QStringLiteral("Close"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnParamsCancel);
    buttons->addStretch();
    buttons->addWidget(cbParamsForce);
    buttons->addWidget(btnParamsRestore);
    buttons->addWidget(btnParamsClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblParams);
    layout->addWidget(pbParams);
    layout->addWidget(lvParamsDiff, 1);
    layout->addWidget(cbParamsAll);
    layout->addLayout(buttons);
    if (mode != Mode::Compare) cbParamsAll->hide();
    if (mode != Mode::Restore) btnParamsRestore->hide();
    if (mode == Mode::Save) {
        lvParamsDiff->hide();
        btnParamsClose->hide();
    }
    btnParamsRestore->setEnabled(false);

    connect(btnParamsCancel, &QPushButton::clicked, this, [this] { cancel = true; });
    connect(btnParamsClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnParamsRestore, &QPushButton::clicked, this, [this] {
        if (onRestore) onRestore();
    });
    setRunning(false);
}

void ParameterDialog::setRunning(bool on, bool cancellable) {
    running_ = on;
    btnParamsCancel->setEnabled(on && cancellable);
    btnParamsClose->setEnabled(!on);
    cbParamsAll->setEnabled(!on);
    cbParamsForce->setEnabled(!on);
    if (on) btnParamsRestore->setEnabled(false);
}

void ParameterDialog::setProgress(int done, int total) {
    pbParams->setRange(0, total > 0 ? total : 1);
    pbParams->setValue(done);
}

void ParameterDialog::closeEvent(QCloseEvent* e) {
    if (running_) {
        cancel = true;
        e->ignore();
        return;
    }
    QDialog::closeEvent(e);
}

void ParameterDialog::reject() {
    if (running_) {
        cancel = true;
        return;
    }
    QDialog::reject();
}

}  // namespace vindelor::app
