// The "BigVx" and "VXM-NC" bootloader tools in the window, against the simulated flash
// bootloader and boot-mode motor on a pseudo-terminal reachable as COM1.
#include <QDir>
#include <QProgressBar>
#include <QSpinBox>

#include "WindowFixture.h"
#include "app/BigVxPanel.h"
#include "app/NcxBootPanel.h"
#include "sim/BootModeMotor.h"
#include "sim/FlashBootloader.h"
#include "sim/Xc164Bootstrap.h"
#include "support/HexText.h"
#include "support/TempDir.h"

using vindelor::app::BigVxPanel;

class BigVxTest : public WindowFixture {
    Q_OBJECT

    std::unique_ptr<vindelor::sim::SimPort> tool_;

    // Puts a device of the test's choice behind COM1.
    void plugIn(std::shared_ptr<vindelor::sim::DeviceModel> model) {
        tool_ = std::make_unique<vindelor::sim::SimPort>(std::move(model));
        QVERIFY(QFile::remove(portDir() + "/com1"));
        vindelor::sim::LinkPort(portDir().toStdString(), 1, tool_->slavePath());
    }
    BigVxPanel& panel() { return *window_->bigVxPanel; }

private slots:
    void init() {
        setUpWindowTest();
        // "flash.bin" goes to the current folder: a folder of the test's own, with a copy of
        // the definition files the window reads from there.
        QDir defs(QStringLiteral(VINDELOR_SOURCE_DIR "/defs"));
        for (const QString& name : defs.entryList({QStringLiteral("*.dat")}, QDir::Files))
            QVERIFY(QFile::copy(defs.filePath(name), folder_->filePath(name)));
        QVERIFY(QDir::setCurrent(folder_->path()));
    }
    void cleanup() {
        tearDownWindowTest();
        tool_.reset();
    }

    void showsTheControlsWithTheirCaptionsAndDefaults() {
        TfrmMain& w = open();
        for (auto [name, caption] : {std::pair {"btnBrowse", "&Browse..."}, {"btnBrowse2", "B&rowse..."},
                                     {"Button5", "Ping"}, {"btnEraseSector", "Erase Sec"}, {"Button7", "Read"},
                                     {"btnWriteTest", "Write"}, {"btnBootActivate", "Boot Activate"},
                                     {"btnBootActive", "Boot Activate XC164"}, {"Button10", "Set 57600 Baud"},
                                     {"btnReadFlash", "Read Flash"}, {"btnWriteFlash", "Write Flash"},
                                     {"btnAddrCheck", "Address check"}, {"btnSendBooter", "Send Bootloader"},
                                     {"btnNCxReset", "Reset module"}, {"btnLoadFirmware", "Load NCx Bootloader"}}) {
            auto* b = w.findChild<QPushButton*>(QString::fromLatin1(name));
            QVERIFY2(b, name);
            QCOMPARE(b->text(), QString::fromLatin1(caption));
        }
        QCOMPARE(w.findChild<QLineEdit*>(QStringLiteral("edDataAddress"))->text(), QStringLiteral("0xc00000"));
        auto* ud = w.findChild<QSpinBox*>(QStringLiteral("udEraseSec"));
        QCOMPARE(ud->minimum(), 0);
        QCOMPARE(ud->maximum(), 15);
        QVERIFY(w.findChild<QLineEdit*>(QStringLiteral("edEraseSec")));
        QCOMPARE(w.findChild<QCheckBox*>(QStringLiteral("cbLoadAltera"))->text(), QStringLiteral("Load Altera"));
        QCOMPARE(w.findChild<QCheckBox*>(QStringLiteral("cbPreload2"))->text(), QStringLiteral("Load to address 0x2C"));
        QVERIFY(w.findChild<QCheckBox*>(QStringLiteral("cbPreload2"))->isChecked());
        QCOMPARE(w.findChild<QProgressBar*>(QStringLiteral("pbProgress"))->maximum(), 100);
        QVERIFY(!w.PageControl1->isTabVisible(w.PageControl1->indexOf(w.tsBigVx)));
    }

    void singleCommandsSendTheirBytes() {
        auto device = std::make_shared<vindelor::sim::FlashBootloader>();
        plugIn(device);
        TfrmMain& w = open();
        panel().udEraseSec->setValue(15);
        QTest::mouseClick(panel().btnEraseSector, Qt::LeftButton);
        QTest::mouseClick(panel().Button5, Qt::LeftButton);
        panel().edDataAddress->setText(QStringLiteral("0x1C00400"));
        QTest::mouseClick(panel().Button7, Qt::LeftButton);
        QVERIFY(tool_->waitReceived(4 + 3 + 8, kWait));
        QCOMPARE(tool_->received(), (Bytes {0xA2, 0x01, 0x0F, 0x4E, 0xA0, 0x00, 0x60, 0xA3, 0x05, 0xC0, 0x04, 0x00,
                                            0x00, 0x20, 0x74}));
        // The answers show up through the receive thread's echo.
        QTRY_VERIFY_WITH_TIMEOUT(w.meRecieved->toPlainText().contains(QStringLiteral("<A0><00><60>")), kWait);
        panel().edDataAddress->setText(QStringLiteral("zz"));
        QTest::mouseClick(panel().Button7, Qt::LeftButton);
        QCOMPARE(Boxes(boxes_).last(), QStringLiteral("warning|Error|Invalid number"));
    }

    void readFlashKeepsTheWindowAliveAndWritesFlashBin() {
        auto device = std::make_shared<vindelor::sim::FlashBootloader>();
        plugIn(device);
        TfrmMain& w = open();
        int ticks = 0;
        bool busySeen = false;
        QTimer timer;
        connect(&timer, &QTimer::timeout, this, [&] {
            ++ticks;
            if (!panel().lblReadCount->text().isEmpty() && !panel().btnWriteFlash->isEnabled() &&
                panel().btnCancelFlash->isEnabled() && !w.cbComPort->isEnabled())
                busySeen = true;
        });
        timer.start(20);
        QTest::mouseClick(panel().btnReadFlash, Qt::LeftButton);
        timer.stop();
        QVERIFY(ticks > 0);
        QVERIFY(busySeen);
        QCOMPARE(panel().lblReadCount->text(), QStringLiteral("128 (100%)"));
        QFile file(folder_->filePath(QStringLiteral("flash.bin")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const Bytes flash = device->flash();
        QCOMPARE(bytes, QByteArray(reinterpret_cast<const char*>(flash.data()), static_cast<int>(flash.size())));
        QVERIFY(panel().btnWriteFlash->isEnabled());
        QVERIFY(!panel().btnCancelFlash->isEnabled());
        QVERIFY(w.receiving());
        QVERIFY(Boxes(boxes_).isEmpty());
    }

    void aCancelledReadFlashWritesNoFile() {
        auto device = std::make_shared<vindelor::sim::FlashBootloader>();
        plugIn(device);
        tool_->setBaudRate(19200);  // at its line rate a block takes half a second
        TfrmMain& w = open();
        QTimer timer;
        connect(&timer, &QTimer::timeout, this, [&] {
            if (!panel().lblReadCount->text().isEmpty()) QTest::mouseClick(panel().btnCancelFlash, Qt::LeftButton);
        });
        timer.start(5);
        QTest::mouseClick(panel().btnReadFlash, Qt::LeftButton);
        timer.stop();
        QVERIFY(!QFile::exists(folder_->filePath(QStringLiteral("flash.bin"))));
        QVERIFY(device->readAddresses().size() < 128);
        QVERIFY(w.receiving());
        QVERIFY(panel().btnReadFlash->isEnabled());
    }

    void aTimeOutInReadFlashShowsTheErrorAndListensAgain() {
        auto device = std::make_shared<vindelor::sim::FlashBootloader>();
        device->setSilentAfterReads(3);  // block 0 twice, block 1 once
        plugIn(device);
        TfrmMain& w = open();
        QFile old(folder_->filePath(QStringLiteral("flash.bin")));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("older");
        old.close();
        QTest::mouseClick(panel().btnReadFlash, Qt::LeftButton);
        QCOMPARE(Boxes(boxes_), QStringList {QStringLiteral("warning|Error|Flash block 0xC00400: No Data")});
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("older"));
        QVERIFY(w.receiving());
        QCOMPARE(w.port()->GetBaudRate(), 19200u);
    }

    void addressCheckReportsAFailureInTheMemo() {
        auto device = std::make_shared<vindelor::sim::FlashBootloader>();
        plugIn(device);
        TfrmMain& w = open();
        tool_->dropOutputByte(5 * 2);
        QTest::mouseClick(panel().btnAddrCheck, Qt::LeftButton);
        // The rest of the broken answer follows in the echo of the receive thread.
        QVERIFY2(w.meRecieved->toPlainText().startsWith(
                     QStringLiteral("Start Address 0xBFF000 = 0\nEnd Address 0xBFF000 = 0\nFailed at 0xBFF010")),
                 qPrintable(w.meRecieved->toPlainText()));
        QVERIFY(w.receiving());
    }

    void theDownloadShowsItsProgressAndEndsWithLoaded() {
        auto motor = std::make_shared<vindelor::sim::BootModeMotor>();
        plugIn(motor);
        TfrmMain& w = open();
        vindelor::testing::TempDir files;
        panel().edFirmwareFile->setText(QString::fromStdString(files.write("motor.bin", Bytes(1500, 7))));
        tool_->inject(motor->request());
        QTRY_VERIFY_WITH_TIMEOUT(w.meRecieved->toPlainText().contains(QStringLiteral("<Loaded>")), kWait);
        QCOMPARE(panel().pbProgress->value(), 100);
        QCOMPARE(motor->firmware(), Bytes(1500, 7));
        QVERIFY(Boxes(boxes_).isEmpty());
        QCOMPARE(w.FirmwareFile, panel().edFirmwareFile->text());
    }

    void anEmptyFirmwareIsRefusedBeforeAnythingIsSent() {
        auto motor = std::make_shared<vindelor::sim::BootModeMotor>();
        plugIn(motor);
        TfrmMain& w = open();
        vindelor::testing::TempDir files;
        panel().edFirmwareFile->setText(QString::fromStdString(files.write("empty.bin", Bytes{})));
        tool_->inject(motor->request());
        QTRY_COMPARE_WITH_TIMEOUT(
            Boxes(boxes_), QStringList{QStringLiteral("warning|Error|Error loading firmware file")},
            kWait);
        QTest::qWait(100);
        QVERIFY(tool_->received().empty());
        QVERIFY(!motor->finished());
        QVERIFY(!w.meRecieved->toPlainText().contains(QStringLiteral("<Loaded>")));
    }

    // A download holds the port as every long job does: the other senders wait, and "Cancel"
    // or a close request ends it between pieces.
    void aDownloadHoldsThePortUntilItIsCancelled_data() {
        QTest::addColumn<bool>("close");
        QTest::newRow("Cancel") << false;
        QTest::newRow("closing the window") << true;
    }

    void aDownloadHoldsThePortUntilItIsCancelled() {
        QFETCH(bool, close);
        auto motor = std::make_shared<vindelor::sim::BootModeMotor>();
        plugIn(motor);
        TfrmMain& w = open();
        vindelor::testing::TempDir files;
        constexpr std::size_t kFirmware = 64 * 1024;  // 11 s at 57600
        panel().edFirmwareFile->setText(
            QString::fromStdString(files.write("motor.bin", Bytes(kFirmware, 9))));
        tool_->inject(motor->request());
        QTRY_VERIFY_WITH_TIMEOUT(panel().pbProgress->value() > 0, kWait);
        QVERIFY(panel().downloading());
        QVERIFY(panel().btnCancelFlash->isEnabled());
        QVERIFY(!panel().btnReadFlash->isEnabled());
        QVERIFY(!panel().Button5->isEnabled());
        QVERIFY(!w.cbComPort->isEnabled());
        QVERIFY(
            !w.findChild<QPushButton*>(QStringLiteral("Button22"))->isEnabled());  // "Start Poll"
        if (close) {
            w.close();
            QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), kWait);
        } else {
            QTest::mouseClick(panel().btnCancelFlash, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!panel().downloading(), kWait);
            QVERIFY(panel().btnReadFlash->isEnabled());
            QVERIFY(!panel().btnCancelFlash->isEnabled());
            QVERIFY(w.cbComPort->isEnabled());
            QTRY_VERIFY_WITH_TIMEOUT(w.receiving(), kWait);
        }
        // It ended between pieces, long before the whole firmware was on the line.
        QVERIFY(motor->firmware().size() < kFirmware);
        QVERIFY(!motor->finished());
        QVERIFY(Boxes(boxes_).isEmpty());
    }

    // The lost-port watch restarts the receive thread when the adapter returns; a motor that
    // asks for its firmware then is served as before.
    void aDownloadIsServedAfterTheLostPortCameBack() {
        auto motor = std::make_shared<vindelor::sim::BootModeMotor>();
        plugIn(motor);
        TfrmMain& w = open();
        vindelor::testing::TempDir files;
        panel().edFirmwareFile->setText(
            QString::fromStdString(files.write("motor.bin", Bytes(700, 5))));
        tool_->hangUp();
        auto* status = w.findChild<QLabel*>(QStringLiteral("lblPortStatus"));
        QVERIFY(status);
        QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith(QStringLiteral("Port lost")), kWait);
        auto second = std::make_shared<vindelor::sim::BootModeMotor>();
        plugIn(second);
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("Port back"), kWait);
        tool_->inject(second->request());
        QTRY_VERIFY_WITH_TIMEOUT(w.meRecieved->toPlainText().contains(QStringLiteral("<Loaded>")),
                                 kWait);
        QCOMPARE(second->firmware(), Bytes(700, 5));
        QVERIFY(second->finished());
        QVERIFY(Boxes(boxes_).isEmpty());
    }

    void theDownloadShowsItsBoxesFromTheWindowThread() {
        auto motor = std::make_shared<vindelor::sim::BootModeMotor>();
        motor->setSumOffset(1);
        plugIn(motor);
        TfrmMain& w = open();
        vindelor::testing::TempDir files;
        panel().edFirmwareFile->setText(QString::fromStdString(files.write("motor.bin", Bytes(10, 7))));
        panel().edAlteraFile->setText(QString::fromStdString(files.write("fpga.hex", vindelor::testing::HexText().data(0, {1, 2}).text())));
        panel().cbLoadAltera->click();
        QVERIFY(w.receiveThread()->LoadFpga);
        tool_->inject(motor->request());
        QTRY_VERIFY_WITH_TIMEOUT(w.meRecieved->toPlainText().contains(QStringLiteral("<Loaded>")), kWait);
        QCOMPARE(Boxes(boxes_), QStringList {QStringLiteral("warning|Error|Checksum error loading file")});
        QCOMPARE(motor->fpga(), (Bytes {1, 2}));
    }

    void loadNcxBootloaderWritesTheFlashBootloaderAndGivesThePortBack() {
        auto bootloader = std::make_shared<vindelor::sim::FlashBootloader>();
        auto bootstrap = std::make_shared<vindelor::sim::Xc164Bootstrap>(bootloader);
        plugIn(bootstrap);
        TfrmMain& w = open();
        vindelor::testing::TempDir files;
        w.ncxBootPanel->edBooterFile->setText(
            QString::fromStdString(files.write("booter.h86", vindelor::testing::HexText().data(0x100, Bytes(0x400, 0x5A)).text())));
        panel().edFlashFile->setText(
            QString::fromStdString(files.write("flash.h86", vindelor::testing::HexText().data(0x40, {9, 8, 7}).text())));
        QTest::mouseClick(w.ncxBootPanel->btnLoadFirmware, Qt::LeftButton);
        QVERIFY2(Boxes(boxes_).isEmpty(), qPrintable(Boxes(boxes_).join('\n')));
        QCOMPARE(bootloader->flash()[0x40], std::uint8_t {9});
        QVERIFY(w.receiving());
        QCOMPARE(w.port()->GetBaudRate(), 19200u);

        // A second time the bootstrap loader is no longer there to answer.
        QTest::mouseClick(w.ncxBootPanel->btnLoadFirmware, Qt::LeftButton);
        QCOMPARE(Boxes(boxes_), QStringList {QStringLiteral("warning|Error|Error writing bootloader\nError sending to boot loader")});
        QVERIFY(w.receiving());
    }

    void sendBootloaderAndResetSendTheirBytes() {
        auto bootstrap = std::make_shared<vindelor::sim::Xc164Bootstrap>(std::make_shared<vindelor::sim::FlashBootloader>());
        plugIn(bootstrap);
        TfrmMain& w = open();
        vindelor::testing::TempDir files;
        w.ncxBootPanel->edBooterFile->setText(
            QString::fromStdString(files.write("booter.h86", vindelor::testing::HexText().data(0x2C, Bytes(2004, 0x11)).text())));
        w.ncxBootPanel->sleep = [](int) {};
        QTest::mouseClick(w.ncxBootPanel->btnSendBooter, Qt::LeftButton);
        QVERIFY(tool_->waitReceived(1 + 32 + 2004, kWait));
        QTRY_VERIFY_WITH_TIMEOUT(bootstrap->started(), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(w.meRecieved->toPlainText().contains(QStringLiteral("<D5>")), kWait);
        tool_->clearReceived();
        QTest::mouseClick(w.ncxBootPanel->btnNCxReset, Qt::LeftButton);
        QCOMPARE(w.meSend->toPlainText(), Echo({0x21, 0x21, 0x21, 0xFF, 0x00, 0xAA, 0xAA}));
    }
};

QTEST_MAIN(BigVxTest)
#include "BigVx_test.moc"
