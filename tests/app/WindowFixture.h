// What the window tests share: the simulated VX20-95 on a pseudo-terminal reachable as COM1 and
// COM5 (COM2 names no device, COM3 is not a serial port), fresh settings for every test, the
// window made as the program makes it, and a hand that answers the value-entry dialog.
#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "app/BasicTab.h"
#include "app/PortComboBox.h"
#include "app/TdlgEnterValue.h"
#include "app/VarpTab.h"
#include "app/Winbinform.h"
#include "protocol/ByteText.h"
#include "protocol/Messages.h"
#include "protocol/Sender.h"
#include "registers/Definitions.h"
#include "sim/DeviceSetup.h"
#include "sim/Pty.h"
#include "sim/RegisterDevice.h"
#include "sim/SimPort.h"
#include "support/RecordingNotifier.h"

using vindelor::app::BasicTab;
using vindelor::app::TdlgEnterValue;
using vindelor::app::TfrmMain;
using Bytes = std::vector<std::uint8_t>;
using Settings = QVariantMap;

Q_DECLARE_METATYPE(std::optional<QString>)

namespace window_test {

constexpr int kWait = 5000;  // generous: the machine may be busy

inline QString Echo(const Bytes& bytes) {
    QString text;
    for (auto b : bytes) text += QString::fromStdString(vindelor::protocol::ByteText(b));
    return text;
}

inline QStringList Boxes(const vindelor::testing::RecordingNotifier& n) {
    QStringList list;
    for (const auto& b : n.boxes) list << QString::fromStdString(b);
    return list;
}

}  // namespace window_test

using namespace window_test;

class WindowFixture : public QObject {
protected:
    QTemporaryDir* folder_ = nullptr;
    std::shared_ptr<vindelor::sim::RegisterDevice> device_;
    std::unique_ptr<vindelor::sim::SimPort> sim_;
    vindelor::testing::RecordingNotifier boxes_;
    std::unique_ptr<TdlgEnterValue> dialog_;
    std::unique_ptr<TfrmMain> window_;

    QString portDir() const { return folder_->filePath(QStringLiteral("ports")); }

    void storeSettings(const Settings& values) {
        QSettings s(QStringLiteral("Kyvane"), QStringLiteral("Tambrel"));
        for (auto it = values.begin(); it != values.end(); ++it) s.setValue(it.key(), it.value());
        s.sync();
    }

    // The window as the program makes it: the window, then the dialog.
    TfrmMain& open(bool show = true) {
        window_ = std::make_unique<TfrmMain>(boxes_);
        dialog_ = std::make_unique<TdlgEnterValue>();
        window_->dlgEnterValue = dialog_.get();
        if (show) {
            window_->show();
            [&] { QVERIFY(QTest::qWaitForWindowExposed(window_.get())); }();
        }
        return *window_;
    }

    void close() {
        window_.reset();
        dialog_.reset();
    }

    BasicTab& tab() { return *window_->tsBasic; }
    int indexOf(const char* name) {
        const auto& defs = tab().list.defs;
        return defs.findRegisterIndex(defs.findRegisterByName(name));
    }
    int numberOf(const char* name) { return tab().list.defs.findRegisterByName(name); }
    QString line(const char* name) { return tab().lbParams->item(indexOf(name))->text(); }
    void select(const char* name) { tab().lbParams->setCurrentRow(indexOf(name)); }

    // Answers the value-entry dialog as soon as it is up: the text and OK, or Cancel.
    void answerDialog(std::optional<QString> text, QString* shownName = nullptr) {
        auto* timer = new QTimer(this);
        timer->setInterval(20);
        connect(timer, &QTimer::timeout, this, [timer, text, shownName] {
            auto* dlg = qobject_cast<TdlgEnterValue*>(QApplication::activeModalWidget());
            if (!dlg || !dlg->isVisible()) return;
            timer->stop();
            timer->deleteLater();
            if (shownName) *shownName = dlg->lblParamName->text();
            if (text) {
                dlg->edNewValue->setText(*text);
                QTest::mouseClick(dlg->OKBtn, Qt::LeftButton);
            } else {
                QTest::mouseClick(dlg->CancelBtn, Qt::LeftButton);
            }
        });
        timer->start();
    }

    void enterDefinitionFolder() {
        QVERIFY(QDir::setCurrent(QStringLiteral(VINDELOR_SOURCE_DIR "/defs")));
    }

    void setUpWindowTest() {
        folder_ = new QTemporaryDir;
        QVERIFY(folder_->isValid());
        // A fresh settings file for every test; the user's own is never touched.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder_->filePath(QStringLiteral("settings")));
        qputenv("VINDELOR_PORT_DIR", QFile::encodeName(portDir()));

        device_ = std::make_shared<vindelor::sim::RegisterDevice>();
        QCOMPARE(QString::fromStdString(vindelor::sim::ConfigureAsMotor(*device_, vindelor::registers::VX20_95,
                                                                        vindelor::sim::DefaultDefinitionsFolder())),
                 QString());
        sim_ = std::make_unique<vindelor::sim::SimPort>(device_);
        // COM1 and COM5 are the simulated motor; COM2 names no device; COM3 is not a serial port.
        vindelor::sim::LinkPort(portDir().toStdString(), 1, sim_->slavePath());
        vindelor::sim::LinkPort(portDir().toStdString(), 5, sim_->slavePath());
        QVERIFY(QFile::link(folder_->filePath(QStringLiteral("no-such-device")), portDir() + "/com2"));
        QFile plain(folder_->filePath(QStringLiteral("plain-file")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        QVERIFY(QFile::link(plain.fileName(), portDir() + "/com3"));
        boxes_.boxes.clear();
    }

    void tearDownWindowTest() {
        close();
        sim_.reset();
        device_.reset();
        delete folder_;
        folder_ = nullptr;
    }

};
