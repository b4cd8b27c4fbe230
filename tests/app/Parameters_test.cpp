// "Scan bus...", "Save parameters...", "Compare with file..." and "Restore from file..." on the
// "VxBasic" tab, against simulated motors: several on one line for the scan, the window's own
// VX20-95 for the parameter sets.
#include <QCheckBox>
#include <QProgressBar>
#include <QSpinBox>

#include "WindowFixture.h"
#include "app/BusScanDialog.h"
#include "support/SecondDevice.h"
#include "app/ParameterDialog.h"
#include "app/ParameterTools.h"
#include "registers/ParameterSet.h"
#include "sim/RegisterBus.h"

using vindelor::app::BusScanDialog;
using vindelor::app::ParameterDialog;
using vindelor::app::ParameterTools;

class ParametersTest : public WindowFixture {
    Q_OBJECT

    ParameterTools& tools() { return *tab().paramTools; }
    static QStringList Column(QTreeWidget* list, int column) {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            out << list->topLevelItem(i)->text(column);
        return out;
    }
    QString file(const char* name) const { return folder_->filePath(QString::fromLatin1(name)); }
    void shoot(QWidget* w, const char* name) {
        // VINDELOR_DIALOG_SHOTS=folder keeps a picture of each dialog to look at.
        if (!qEnvironmentVariableIsSet("VINDELOR_DIALOG_SHOTS")) return;
        QTest::qWait(50);  // the layout follows the texts set last
        w->grab().save(qEnvironmentVariable("VINDELOR_DIALOG_SHOTS") + QLatin1Char('/') +
                       QLatin1String(name));
    }

  private slots:
    void initTestCase() { enterDefinitionFolder(); }
    void init() { setUpWindowTest(); }
    void cleanup() {
        tearDownWindowTest();
        lineSim_.reset();
    }

    void scanListsTheDevicesOfTheLineAndPutsTheChosenAddressInTheBox() {
        // Three motors on COM4, the window at 115200 on it.
        auto line = std::make_shared<vindelor::sim::RegisterBus>();
        const std::pair<int, int> motors[] = {{3, vindelor::registers::VX20_95},
                                              {17, vindelor::registers::KT42},
                                              {200, vindelor::registers::VX300_700}};
        for (const auto& [address, type] : motors) {
            auto m = std::make_shared<vindelor::sim::RegisterDevice>();
            m->setAddress(address);
            QCOMPARE(QString::fromStdString(vindelor::sim::ConfigureAsMotor(
                         *m, type, vindelor::sim::DefaultDefinitionsFolder())),
                     QString());
            line->add(m);
        }
        lineSim_ = std::make_unique<vindelor::sim::SimPort>(line);
        vindelor::sim::LinkPort(portDir().toStdString(), 4, lineSim_->slavePath());
        storeSettings({{"ComPort", 3},
                       {"Baudrate", 115200},
                       {"Top", 50},
                       {"Left", 50},
                       {"Address", 255},
                       {"Group", 1},
                       {"VxMode", 1}});
        TfrmMain& w = open();
        QVERIFY(w.receiving());

        // Meanwhile nothing else sends.
        bool othersDisabled = false;
        QTimer::singleShot(300, this, [&] {
            othersDisabled = !tab().btnReset->isEnabled() && !w.edAddress->isEnabled() &&
                             !tools().btnSaveParams->isEnabled();
        });
        QTest::mouseClick(tools().btnScanBus, Qt::LeftButton);
        QVERIFY(othersDisabled);
        QVERIFY(tab().btnReset->isEnabled());
        BusScanDialog* d = tools().scanDialog;
        QVERIFY(d);
        QCOMPARE(Column(d->lvDevices, 0), (QStringList{"3", "17", "200"}));
        QCOMPARE(Column(d->lvDevices, 1), (QStringList{"1.28", "1.28", "1.28"}));
        QCOMPARE(Column(d->lvDevices, 2), (QStringList{"VX20-95", "KT42", "VX300/700"}));
        QCOMPARE(d->lblScan->text(),
                 QStringLiteral("3 devices answered. Choose one and press \"Use address\"."));
        QCOMPARE(d->pbScan->value(), 254);
        shoot(d, "scan.png");
        d->lvDevices->setCurrentItem(d->lvDevices->topLevelItem(1));
        QTest::mouseClick(d->btnUseAddress, Qt::LeftButton);
        QCOMPARE(w.edAddress->text(), QStringLiteral("17"));
        QTRY_VERIFY(!tools().scanDialog);
        // The register list reads again as before.
        select("MODE");
        QTest::keyClick(tab().lbParams, 'R');
        QTRY_VERIFY_WITH_TIMEOUT(
            w.meRecieved->toPlainText().startsWith(QStringLiteral("<52><52><52>")), kWait);
        QCOMPARE(Boxes(boxes_), QStringList());
    }

    void aScanNamesAnAddressWhereTwoDevicesAnswerAndListsNeither() {
        // A new drive came with address 3, where a motor already is: every answer to 3 comes
        // twice, with other data the second time.
        auto line = std::make_shared<vindelor::sim::RegisterBus>();
        for (int address : {3, 17}) {
            auto m = std::make_shared<vindelor::sim::RegisterDevice>();
            m->setAddress(address);
            QCOMPARE(QString::fromStdString(vindelor::sim::ConfigureAsMotor(
                         *m, vindelor::registers::VX20_95, vindelor::sim::DefaultDefinitionsFolder())),
                     QString());
            line->add(m);
        }
        lineSim_ = std::make_unique<vindelor::sim::SimPort>(
            std::make_shared<vindelor::testing::SecondDeviceAt>(line, 3));
        vindelor::sim::LinkPort(portDir().toStdString(), 4, lineSim_->slavePath());
        storeSettings({{"ComPort", 3},
                       {"Baudrate", 115200},
                       {"Top", 50},
                       {"Left", 50},
                       {"Address", 17},
                       {"Group", 1},
                       {"VxMode", 1}});
        TfrmMain& w = open();
        QVERIFY(w.receiving());
        QTest::mouseClick(tools().btnScanBus, Qt::LeftButton);
        BusScanDialog* d = tools().scanDialog;
        QVERIFY(d);
        QCOMPARE(Column(d->lvDevices, 0), (QStringList{"17"}));
        QVERIFY(d->lblScan->text().startsWith(QStringLiteral("1 device answered.")));
        QVERIFY2(d->lblScan->text().endsWith(
                     QStringLiteral(" Two devices answer at address 3: give one of them another address.")),
                 qPrintable(d->lblScan->text()));
        shoot(d, "scan-two-devices.png");
        d->close();
    }

    void aScanCanBeCancelled() {
        TfrmMain& w = open();
        QTimer::singleShot(200, this, [this] {
            QTest::mouseClick(tools().scanDialog->btnScanCancel, Qt::LeftButton);
        });
        QTest::mouseClick(tools().btnScanBus, Qt::LeftButton);
        BusScanDialog* d = tools().scanDialog;
        QVERIFY(d->lblScan->text().startsWith(QStringLiteral("Cancelled at address ")));
        QVERIFY(d->pbScan->value() < 254);
        QVERIFY(d->btnScanStart->isEnabled());
        d->close();
        QVERIFY(w.receiving());
    }

    void saveThenCompareShowsTheRegistersThatDiffer() {
        TfrmMain& w = open();
        const QString path = file("drive.params");
        tools().saveTo(path);
        QCOMPARE(Boxes(boxes_),
                 (QStringList{
                     "plain|Save parameters|Saved 38 registers of the VX20-95 at address 255 to " +
                     path}));
        vindelor::registers::ParameterSet set;
        std::string error;
        QVERIFY2(vindelor::registers::ReadParameterFile(path.toStdString(), set, error),
                 error.c_str());
        QCOMPARE(set.entries.size(), std::size_t{38});
        QTRY_VERIFY(!tools().dialog);

        device_->setValue(numberOf("KP"), 0x2000);
        device_->setValue(numberOf("MODE"), 2);
        tools().compareWith(path);
        ParameterDialog* d = tools().dialog;
        QVERIFY(d);
        QCOMPARE(Column(d->lvParamsDiff, 0), QStringList{"KP"});
        QCOMPARE(Column(d->lvParamsDiff, 1), QStringList{"1.5000000"});
        QCOMPARE(Column(d->lvParamsDiff, 2), QStringList{"2.0000000"});
        QCOMPARE(d->lblParams->text(),
                 QStringLiteral("1 restorable register differs between drive.params and the device "
                                "at address 255."));
        d->cbParamsAll->setChecked(true);  // the mode and the measured values too
        QVERIFY(Column(d->lvParamsDiff, 0).contains(QStringLiteral("MODE")));
        shoot(d, "compare.png");
        d->close();
        QVERIFY(w.receiving());
    }

    void restoreAsksOnceWritesWhatDiffersAndReportsFailedReadBacks() {
        open();
        const QString path = file("drive.params");
        tools().saveTo(path);
        boxes_.boxes.clear();
        device_->setValue(numberOf("KP"), 0x1000);
        device_->setValue(numberOf("GEAR"), 0x00020000);
        device_->setValue(numberOf("MODE"), 2);
        // KP keeps its value whatever is written to it.
        device_->setLive(numberOf("KP"), [](vindelor::sim::Clock::time_point) { return 0x1000u; });
        tools().restoreFrom(path);
        ParameterDialog* d = tools().dialog;
        QVERIFY(d);
        QCOMPARE(Column(d->lvParamsDiff, 0), (QStringList{"KP", "GEAR"}));
        QCOMPARE(Column(d->lvParamsDiff, 1), (QStringList{"1.5000000", "1.5000000"}));
        QCOMPARE(Column(d->lvParamsDiff, 2), (QStringList{"1.0000000", "2.0000000"}));
        QVERIFY(d->lblParams->text().startsWith(
            QStringLiteral("Write these 2 registers to the VX20-95 at address 255?")));
        QVERIFY(d->lblParams->text().contains(
            QStringLiteral("Left as the device has them (not in tambrel_restore.dat): MODE")));
        QVERIFY(d->btnParamsRestore->isEnabled());
        shoot(d, "restore.png");
        device_->clearFrames();
        QTest::mouseClick(d->btnParamsRestore, Qt::LeftButton);
        QCOMPARE(Column(d->lvParamsDiff, 3),
                 (QStringList{"reads back 1.0000000, not 1.5000000", "OK"}));
        QCOMPARE(d->lblParams->text(),
                 QStringLiteral("1 of 2 registers failed their read-back: KP."));
        QVERIFY(!d->btnParamsRestore->isEnabled());
        shoot(d, "restored.png");
        QCOMPARE(device_->value(numberOf("GEAR")), 0x00018000u);
        QCOMPARE(device_->value(numberOf("MODE")), 2u);
        int writes = 0;
        for (const auto& f : device_->frames()) writes += f.letter == 'R';
        QCOMPARE(writes, 2);
        QCOMPARE(Boxes(boxes_), QStringList());
    }

    void otherFirmwareNeedsTheUsersWord() {
        open();
        const QString path = file("drive.params");
        tools().saveTo(path);
        device_->setValue(numberOf("KP"), 0x1000);
        device_->setValue(numberOf("FIRMWARE"), 0x8000u | (1u << 6) | 29u);
        tools().restoreFrom(path);
        ParameterDialog* d = tools().dialog;
        QVERIFY(d->lblParams->text().contains(
            QStringLiteral("saved from firmware 1.28; the device runs 1.29")));
        QVERIFY(!d->btnParamsRestore->isEnabled());
        QVERIFY(d->cbParamsForce->isVisible());
        d->cbParamsForce->setChecked(true);
        QVERIFY(d->btnParamsRestore->isEnabled());
        QTest::mouseClick(d->btnParamsRestore, Qt::LeftButton);
        QCOMPARE(device_->value(numberOf("KP")), 0x1800u);
    }

    void aDamagedOrForeignFileIsRefusedWithNothingSent() {
        open();
        const QString damaged = file("damaged.params");
        {
            QFile f(damaged);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(
                "vindelor-parameters 1\ntype VX20-95\naddress 1\n\"KP\" 16 fixed4 0x1800 2.0\nend "
                "1\n");
        }
        const QString foreign = file("foreign.params");
        {
            QFile f(foreign);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(
                "vindelor-parameters 1\ntype KT42\naddress 1\n\"CURRENT\" 14 fixed4 0x1800 "
                "1.5000000\nend 1\n");
        }
        sim_->clearReceived();
        tools().restoreFrom(damaged);
        tools().restoreFrom(foreign);
        tools().compareWith(foreign);
        QCOMPARE(
            Boxes(boxes_),
            (QStringList{
                "warning|Error|" + damaged +
                    ":4: the value 2.0 does not match the raw words 0x1800, which read 1.5000000\n"
                    "Nothing was sent to the device.",
                "warning|Error|" + foreign +
                    ": the file holds the parameters of a KT42, not of a VX20-95\nNothing was "
                    "written to the device.",
                "warning|Error|" + foreign +
                    " holds the parameters of a KT42; the window is set to VX20-95"}));
        QVERIFY(!tools().dialog);
        QTest::qWait(50);
        QVERIFY(sim_->received().empty());
    }

  private:
    std::unique_ptr<vindelor::sim::SimPort> lineSim_;
};

QTEST_MAIN(ParametersTest)
#include "Parameters_test.moc"
