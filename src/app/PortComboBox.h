#pragma once

#include <QComboBox>
#include <QString>

class QStandardItemModel;

namespace vindelor::app {

// The port box: COM1 to COM63. The box itself shows "COMn"; its drop-down list also shows,
// for each number, the device it stands for on this computer and marks the ones that exist
// (in bold, with what the system knows of them: description, maker, serial number), so an
// adapter plugged in is found at a glance. The list is brought up to date each time it opens.
class PortComboBox : public QComboBox {
    Q_OBJECT
public:
    static constexpr int kDeviceColumn = 1;

    explicit PortComboBox(QWidget* parent = nullptr);

    // Fills the 63 items (once) and describes their devices anew.
    void refreshDevices();
    // What the drop-down list shows beside item index.
    QString deviceText(int index) const;
    bool deviceExists(int index) const;

    void showPopup() override;

private:
    QStandardItemModel* model_;
};

}  // namespace vindelor::app
