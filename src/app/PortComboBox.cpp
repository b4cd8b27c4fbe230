#include "app/PortComboBox.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QSerialPortInfo>
#include <QStandardItemModel>
#include <QStringList>
#include <QTreeView>

#include "serial/PortNames.h"

namespace vindelor::app {

namespace {

constexpr int kPopupWidth = 520;
constexpr int kNameColumnWidth = 70;

// What the system knows of a serial device, matched by its real path (a port-folder link is
// followed first).
QString DescribeDevice(const QString& path) {
    const QString real = QFileInfo(path).canonicalFilePath();
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (info.systemLocation() != real && info.systemLocation() != path) continue;
        QStringList parts;
        for (const QString& s : {info.description(), info.manufacturer(), info.serialNumber()})
            if (!s.trimmed().isEmpty()) parts << s.trimmed();
        return parts.join(QStringLiteral(", "));
    }
    return {};
}

}  // namespace

PortComboBox::PortComboBox(QWidget* parent) : QComboBox(parent), model_(new QStandardItemModel(this)) {
    model_->setColumnCount(2);
    setModel(model_);
    auto* view = new QTreeView(this);
    view->setHeaderHidden(true);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->setMinimumWidth(kPopupWidth);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    setView(view);
    view->header()->setStretchLastSection(true);
    view->setColumnWidth(0, kNameColumnWidth);
    setModelColumn(0);
    connect(this, &QComboBox::currentIndexChanged, this,
            [this](int index) { setToolTip(index >= 0 ? deviceText(index) : QString()); });
    refreshDevices();
}

void PortComboBox::refreshDevices() {
    using serial::kFirstListedPort;
    using serial::kLastListedPort;
    const int count = kLastListedPort - kFirstListedPort + 1;
    if (model_->rowCount() != count) {
        model_->setRowCount(count);
        for (int i = 0; i < count; ++i) {
            auto* name = new QStandardItem(QStringLiteral("COM%1").arg(i + kFirstListedPort));
            name->setEditable(false);
            model_->setItem(i, 0, name);
            auto* device = new QStandardItem;
            device->setEditable(false);
            model_->setItem(i, kDeviceColumn, device);
        }
    }
    for (int i = 0; i < count; ++i) {
        const std::string path = serial::DevicePathForPort(i + kFirstListedPort);
        const bool exists = serial::DeviceExists(path);
        QString text = QString::fromLocal8Bit(path.c_str());
        if (exists) {
            const QString about = DescribeDevice(text);
            if (!about.isEmpty()) text += QStringLiteral("  ") + about;
        } else {
            text += QStringLiteral("  (not present)");
        }
        QFont font = this->font();
        font.setBold(exists);
        for (int column : {0, kDeviceColumn}) {
            QStandardItem* item = model_->item(i, column);
            item->setData(font, Qt::FontRole);
            item->setData(exists, Qt::UserRole);
            item->setToolTip(text);
            if (!exists) item->setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
            else item->setData(QVariant(), Qt::ForegroundRole);
        }
        model_->item(i, kDeviceColumn)->setText(text);
    }
    setToolTip(currentIndex() >= 0 ? deviceText(currentIndex()) : QString());
}

QString PortComboBox::deviceText(int index) const {
    const QStandardItem* item = model_->item(index, kDeviceColumn);
    return item ? item->text() : QString();
}

bool PortComboBox::deviceExists(int index) const {
    const QStandardItem* item = model_->item(index, 0);
    return item && item->data(Qt::UserRole).toBool();
}

void PortComboBox::showPopup() {
    refreshDevices();
    QComboBox::showPopup();
}

}  // namespace vindelor::app
