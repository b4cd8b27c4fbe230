// The module firmware update on the "VXM-NC" tab against the simulated bootloader on COM1.
#include <QProgressBar>

#include "WindowFixture.h"
#include "app/FirmwarePanel.h"
#include "firmware/ImageWriter.h"
#include "sim/Bootloader.h"

using vindelor::app::FirmwarePanel;

class FirmwareTest : public WindowFixture {
    Q_OBJECT

    std::shared_ptr<vindelor::sim::Bootloader> module_;
    std::unique_ptr<vindelor::sim::SimPort> moduleSim_;

    FirmwarePanel& panel() { return *window_->firmwarePanel; }

    QString writeImage(int records) {
        vindelor::firmware::ImageWriter w;
        w.AddHeader({3, 5, 0, "window test"});
        for (int k = 0; k < records; ++k) {
            Bytes data(24, static_cast<std::uint8_t>(k));
            w.AddFlash(static_cast<std::uint32_t>(k * 0x100), vindelor::firmware::WithBlockCheck(data));
        }
        const QString path = folder_->filePath(QStringLiteral("module.vxf"));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) return {};
        f.write(reinterpret_cast<const char*>(w.Bytes().data()), static_cast<qint64>(w.Bytes().size()));
        return path;
    }

    // The receive thread reads again: a byte from the device shows in the "Recieved" memo.
    void checkReceiving() {
        window_->meRecieved->clear();
        moduleSim_->inject({0x41});
        QTRY_COMPARE_WITH_TIMEOUT(window_->meRecieved->toPlainText(), QStringLiteral("<41>"), kWait);
        QCOMPARE(window_->port()->GetBaudRate(), 19200u);
        QVERIFY(window_->port()->IsOpen);
    }

private slots:
    void init() {
        setUpWindowTest();
        auto config = vindelor::sim::Bootloader::ForMode(3, 5);
        config.startInBootloader = true;
        module_ = std::make_shared<vindelor::sim::Bootloader>(config);
        moduleSim_ = std::make_unique<vindelor::sim::SimPort>(module_);
        vindelor::sim::LinkPort(portDir().toStdString(), 1, moduleSim_->slavePath());
        enterDefinitionFolder();
    }
    void cleanup() {
        tearDownWindowTest();
        moduleSim_.reset();
        module_.reset();
    }

    void startsEmptyWithItsControls() {
        open();
        QVERIFY(panel().edFirmware->text().isEmpty());
        QCOMPARE(panel().Button14->text(), QStringLiteral("Load firmware"));
        QVERIFY(!panel().btnCancelFirmware->isEnabled());
        QCOMPARE(panel().parentWidget(), window_->tsVXM_NC);
    }

    // The window paints and answers meanwhile, the other senders are off, the progress shows;
    // afterwards the port is back at 19200 and the receive thread reads again.
    void updateRunsWhileTheWindowGoesOn() {
        TfrmMain& w = open();
        panel().edFirmware->setText(writeImage(8));
        QList<int> progress;
        bool othersOff = false;
        bool cancelOn = false;
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [&] {
            if (!panel().updating()) return;
            progress << panel().pbFirmware->value();
            othersOff = othersOff || !w.stPingModule->isEnabled();
            cancelOn = cancelOn || panel().btnCancelFirmware->isEnabled();
        });
        timer->start(10);
        QTest::mouseClick(panel().Button14, Qt::LeftButton);
        timer->stop();
        QCOMPARE(panel().lblFirmStatus->text(), QStringLiteral("Transfer Done"));
        QCOMPARE(panel().lblLoaderStatus->text(), QStringLiteral("Done"));
        QCOMPARE(panel().pbFirmware->value(), 100);
        QVERIFY(othersOff);
        QVERIFY(cancelOn);
        QVERIFY(std::any_of(progress.begin(), progress.end(), [](int v) { return v > 0 && v < 100; }));
        QVERIFY(w.stPingModule->isEnabled());
        QVERIFY(!panel().btnCancelFirmware->isEnabled());
        QCOMPARE(module_->flash().size(), 8u);
        QVERIFY(boxes_.boxes.empty());
        checkReceiving();
    }

    void cancelEndsWithAbortedAndRestoresThePort() {
        open();
        panel().edFirmware->setText(writeImage(40));
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [&] {
            if (panel().updating() && panel().pbFirmware->value() >= 10) QTest::mouseClick(panel().btnCancelFirmware, Qt::LeftButton);
        });
        timer->start(10);
        QTest::mouseClick(panel().Button14, Qt::LeftButton);
        timer->stop();
        QCOMPARE(panel().lblFirmStatus->text(), QStringLiteral("Aborted!"));
        QCOMPARE(panel().lblLoaderStatus->text(), QStringLiteral("Aborted!"));
        QVERIFY(module_->flash().size() < 40u);
        checkReceiving();
    }

    void anUnreadableFileIsReportedAndTheToolStaysUsable() {
        open();
        const QString missing = folder_->filePath(QStringLiteral("missing.vxf"));
        panel().edFirmware->setText(missing);
        QTest::mouseClick(panel().Button14, Qt::LeftButton);
        // The text is Windows-1252: the "µ" is the single byte 0xB5.
        QCOMPARE(boxes_.boxes, std::vector<std::string> {"warning|Error|(Fejl 1) Fejl ved indl\xB5sning af firmware fil: " +
                                                         missing.toStdString()});
        QCOMPARE(panel().lblFirmStatus->text(), QStringLiteral("Starting update"));
        QVERIFY(moduleSim_->received().empty());
        checkReceiving();
    }
};

QTEST_MAIN(FirmwareTest)
#include "Firmware_test.moc"
