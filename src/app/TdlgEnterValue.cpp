#include "app/TdlgEnterValue.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace vindelor::app {

TdlgEnterValue::TdlgEnterValue(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("dlgEnterValue"));
    setWindowTitle(QStringLiteral("Change value"));
    setModal(true);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Parameter:")), 0, 0);
    lblParamName = new QLabel;
    lblParamName->setObjectName(QStringLiteral("lblParamName"));
    grid->addWidget(lblParamName, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("New Value:")), 1, 0);
    edNewValue = new QLineEdit;
    edNewValue->setObjectName(QStringLiteral("edNewValue"));
    edNewValue->setMinimumWidth(180);
    grid->addWidget(edNewValue, 1, 1);

    OKBtn = new QPushButton(QStringLiteral("OK"));
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("Cancel"));
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);  // Escape rejects too

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
}

std::optional<QString> TdlgEnterValue::ask(const QString& parameterName) {
    lblParamName->setText(parameterName);
    edNewValue->clear();
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r = frameGeometry();
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
    edNewValue->setFocus();
    if (exec() != QDialog::Accepted) return std::nullopt;
    return edNewValue->text();
}

}  // namespace vindelor::app
