#pragma once

#include <QDialog>

#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vindelor::app {

// The value-entry dialog of the register list (keys W and G): "Change value", the register's
// name and an edit box for the new value. One instance lives as long as the program.
class TdlgEnterValue : public QDialog {
    Q_OBJECT
public:
    explicit TdlgEnterValue(QWidget* parent = nullptr);

    // Shows the dialog modally, centred on the screen, with an empty edit box; the typed text
    // when it was closed with OK.
    std::optional<QString> ask(const QString& parameterName);

    QLabel* lblParamName;
    QLineEdit* edNewValue;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;
};

}  // namespace vindelor::app
