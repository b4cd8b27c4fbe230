// The main window against the simulated VX20-95: layout, start-up and settings, administrator
// mode, replacing the port, the port box, and reloading the definitions.
#include "WindowFixture.h"

#include <QThread>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "app/HiddenTabs.h"
#include "app/PortBusy.h"
#include "app/PortJob.h"

using vindelor::app::PortBusy;
using vindelor::app::PostToWindow;
using vindelor::app::RunPortJob;

class MainWindowTest : public WindowFixture {
    Q_OBJECT

private slots:
    void initTestCase() { enterDefinitionFolder(); }
    void init() { setUpWindowTest(); }
    void cleanup() { tearDownWindowTest(); }

    void layoutHasEveryControlInPlace() {
        TfrmMain& w = open();
        QCOMPARE(w.windowTitle(), QStringLiteral("Vindelor"));
        QCOMPARE(w.minimumWidth(), 731);
        QCOMPARE(w.maximumWidth(), 731);
        QCOMPARE(w.minimumHeight(), 400);

        const QStringList captions {"VxBasic", "Rx", "Profi", "BigVx", "VXM-NC", "VARP", "VXM-NSx", "Scope"};
        const QStringList names {"tsBasic", "tsPicoPLC", "tsProfi", "tsBigVx", "tsVXM_NC", "tsVarp", "tsFS", "tsScope"};
        QCOMPARE(w.PageControl1->count(), captions.size());
        for (int i = 0; i < captions.size(); ++i) {
            QCOMPARE(w.PageControl1->tabText(i), captions[i]);
            QCOMPARE(w.PageControl1->widget(i)->objectName(), names[i]);
        }
        QCOMPARE(w.PageControl1->currentIndex(), 0);

        for (const char* name :
             {"ComboBox1", "cbAltFiles", "cbComPort", "cbBaudrate", "edAddress", "edGroup", "Label4", "PageControl1",
              "meSend", "meRecieved", "btnExit", "rbVxMode", "rbBigVxMode", "rbKTI30Mode", "lbParams", "lbBitInfo",
              "lvSample", "btnClearSample", "btnReset", "btnWriteToFlash", "btnEnterSafe", "btnExitSafe", "cbHexView",
              "meSaveVals", "edFilter", "btnLoadFilter"})
            QVERIFY2(w.findChild<QWidget*>(QString::fromLatin1(name)), name);

        QStringList labels;
        for (auto* label : w.findChildren<QLabel*>()) labels << label->text();
        for (const char* text : {"Type", "Serial Port", "Baud", "Address", "Group", "Send", "Recieved", "V1.28"})
            QVERIFY2(labels.contains(QString::fromLatin1(text)), text);
        QCOMPARE(w.btnExit->text(), QStringLiteral("E&xit"));
        QCOMPARE(w.cbAltFiles->text(), QStringLiteral("Alt."));

        QStringList types;
        for (int i = 0; i < w.ComboBox1->count(); ++i) types << w.ComboBox1->itemText(i);
        QCOMPARE(types, (QStringList {"VX20-95", "VX300/700", "KT42", "KT56"}));
        QStringList rates;
        for (int i = 0; i < w.cbBaudrate->count(); ++i) rates << w.cbBaudrate->itemText(i);
        QCOMPARE(rates, (QStringList {"9600", "19200", "38400", "57600", "115200", "230400", "460800", "921600"}));

        QTreeWidget* samples = tab().lvSample;
        QCOMPARE(samples->columnCount(), 5);
        const QStringList heads {"Nr", "1", "2", "3", "4"};
        for (int c = 0; c < 5; ++c) {
            QCOMPARE(samples->headerItem()->text(c), heads[c]);
            QCOMPARE(samples->columnWidth(c), c == 0 ? 40 : 80);
        }
        QCOMPARE(tab().btnClearSample->text(), QStringLiteral("Clear Samples"));
        QCOMPARE(tab().btnReset->text(), QStringLiteral("Software reset"));
        QCOMPARE(tab().btnWriteToFlash->text(), QStringLiteral("Write To Flash"));
        QCOMPARE(tab().btnEnterSafe->text(), QStringLiteral("Enter Safemode"));
        QCOMPARE(tab().btnExitSafe->text(), QStringLiteral("Exit Safemode"));
        QCOMPARE(tab().cbHexView->text(), QStringLiteral("Hex view"));
        QCOMPARE(tab().btnLoadFilter->text(), QStringLiteral("Load filter"));
        for (QWidget* list :
             {static_cast<QWidget*>(tab().lbParams), static_cast<QWidget*>(tab().lbBitInfo)})
            QVERIFY2(QFontInfo(list->font()).fixedPitch(),
                     qPrintable(QFontInfo(list->font()).family()));

        QVERIFY(tab().meSaveVals->isHidden());
        for (QWidget* hidden : {static_cast<QWidget*>(w.rbVxMode), static_cast<QWidget*>(w.rbBigVxMode),
                                static_cast<QWidget*>(w.rbKTI30Mode)})
            QVERIFY(hidden->isHidden());

        // The lists and memos take up the height the window gains.
        const int listHeight = tab().lbParams->height();
        const int memoHeight = w.meSend->height();
        w.resize(731, 800);
        QTRY_VERIFY(tab().lbParams->height() > listHeight);
        QVERIFY(w.meSend->height() > memoHeight);
    }

    // At the default size nothing on a page is cut: every widget lies whole inside the page and
    // inside every panel that holds it (what scrolls inside a scroll area aside), and every
    // button, check box and label is as wide as its text needs. Administrator mode shows every
    // page and control.
    void everyPageShowsItsControlsWholeAtTheDefaultSize_data() {
        QTest::addColumn<QString>("page");
        for (const char* name : {"tsBasic", "tsPicoPLC", "tsProfi", "tsBigVx", "tsVXM_NC", "tsVarp", "tsFS", "tsScope"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    void everyPageShowsItsControlsWholeAtTheDefaultSize() {
        QFETCH(QString, page);
        storeSettings({{"KyvaneAdmin", 0}});
        TfrmMain& w = open();
        QCOMPARE(w.size(), QSize(TfrmMain::kWindowWidth, TfrmMain::kWindowHeight));
        auto* shown = w.PageControl1->findChild<QWidget*>(page);
        QVERIFY(shown);
        w.PageControl1->setCurrentWidget(shown);
        QTRY_VERIFY(shown->isVisible());
        QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);

        auto scrolls = [](const QWidget* holder) {
            auto* area = qobject_cast<const QAbstractScrollArea*>(holder->parentWidget());
            return area && area->viewport() == holder;
        };
        bool textChecked = false;
        for (QWidget* control : shown->findChildren<QWidget*>()) {
            if (!control->isVisible()) continue;
            QString text = QString::fromLatin1(control->metaObject()->className()) + ' ' + control->objectName();
            if (auto* b = qobject_cast<QAbstractButton*>(control)) text += " \"" + b->text() + '"';
            if (auto* l = qobject_cast<QLabel*>(control)) text += " \"" + l->text() + '"';
            for (QWidget* holder = control->parentWidget(); holder && !scrolls(holder); holder = holder->parentWidget()) {
                const QRect inHolder(control->mapTo(holder, QPoint(0, 0)), control->size());
                QVERIFY2(holder->rect().contains(inHolder),
                         qPrintable(QStringLiteral("%1 at %2,%3 %4x%5 lies outside %6 (%7x%8)")
                                        .arg(text).arg(inHolder.x()).arg(inHolder.y()).arg(inHolder.width())
                                        .arg(inHolder.height()).arg(holder->objectName()).arg(holder->width())
                                        .arg(holder->height())));
                if (holder == shown) break;
            }
            if (!qobject_cast<QPushButton*>(control) && !qobject_cast<QCheckBox*>(control) &&
                !qobject_cast<QLabel*>(control))
                continue;
            textChecked = true;
            QVERIFY2(control->width() >= control->sizeHint().width(),
                     qPrintable(QStringLiteral("%1 is %2 wide, its text needs %3")
                                    .arg(text).arg(control->width()).arg(control->sizeHint().width())));
        }
        QVERIFY(textChecked);
    }

    void firstStartUsesTheDefaultsAndWritesEveryValue() {
        TfrmMain& w = open();
        QCOMPARE(w.cbComPort->currentIndex(), 0);
        QCOMPARE(w.cbBaudrate->currentText(), QStringLiteral("19200"));
        QCOMPARE(w.ComboBox1->currentText(), QStringLiteral("VX20-95"));
        QCOMPARE(w.edAddress->text(), QStringLiteral("255"));
        QCOMPARE(w.edGroup->text(), QStringLiteral("1"));
        QCOMPARE(w.DeviceType, 1);
        QVERIFY(w.rbVxMode->isChecked());
        QVERIFY(w.receiving());
        QCOMPARE(Boxes(boxes_), QStringList());
        QVERIFY(tab().lbParams->count() > 30);
        QCOMPARE(tab().lbParams->item(0)->text(), QStringLiteral("  1:MODE                      0          Word   "));
        close();

        QSettings s(QStringLiteral("Kyvane"), QStringLiteral("Tambrel"));
        QStringList keys = s.allKeys();
        keys.sort();
        QCOMPARE(keys, (QStringList {"Address", "AlteraFile", "Baudrate", "ComPort", "FilterFile", "FirmwareFile",
                                     "Group", "Left", "Top", "VarpProgram", "VxMode"}));
        QCOMPARE(s.value("ComPort").toInt(), 0);
        QCOMPARE(s.value("Baudrate").toInt(), 19200);
        QCOMPARE(s.value("Address").toInt(), 255);
        QCOMPARE(s.value("Group").toInt(), 1);
        QCOMPARE(s.value("VxMode").toInt(), 1);
        QCOMPARE(s.value("FilterFile").toString(), QString());
    }

    void storedSettingsAreAppliedAndWrittenBack_data() {
        QTest::addColumn<Settings>("stored");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("baudIndex");
        QTest::addColumn<int>("typeIndex");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QPoint>("position");  // null: not the stored one
        QTest::addColumn<Settings>("written");

        const Settings all {{"ComPort", 4},   {"Baudrate", 57600}, {"Top", 90},          {"Left", 110},
                            {"Address", 12},  {"Group", 3},        {"VxMode", 3},        {"FilterFile", "/x/f.bin"},
                            {"FirmwareFile", "fw.vxf"}, {"AlteraFile", "fpga.rbf"}, {"VarpProgram", "prog.bin"}};
        QTest::newRow("every value stored") << all << 4 << 3 << 2 << "12" << "3" << QPoint(110, 90) << all;

        Settings noAddress = all;
        noAddress.remove("Address");
        noAddress["ComPort"] = 3;
        noAddress["Top"] = 80;
        noAddress["Left"] = 120;
        Settings noAddressWritten {{"ComPort", 0}, {"Baudrate", 19200}, {"Top", 80},     {"Left", 120},
                                   {"Address", 255}, {"Group", 1},       {"VxMode", 1},   {"FilterFile", "/x/f.bin"},
                                   {"FirmwareFile", "fw.vxf"}};
        QTest::newRow("Address missing: the port falls back, the position stays")
            << noAddress << 0 << 1 << 0 << "255" << "1" << QPoint(120, 80) << noAddressWritten;

        Settings badPort = all;
        badPort["ComPort"] = "three";
        QTest::newRow("ComPort not a number: everything from the defaults")
            << badPort << 0 << 1 << 0 << "255" << "1" << QPoint() << Settings {{"ComPort", 0}, {"VxMode", 1}};

        Settings badType = all;
        badType["VxMode"] = "fast";
        QTest::newRow("VxMode not a number") << badType << 0 << 1 << 0 << "255" << "1" << QPoint(110, 90)
                                             << Settings {{"ComPort", 0}, {"Address", 255}, {"VxMode", 1}};

        Settings kt56 = all;
        kt56["VxMode"] = 4;
        QTest::newRow("KT56 selects only the type box")
            << kt56 << 4 << 3 << 3 << "12" << "3" << QPoint(110, 90) << Settings {{"VxMode", 4}};

        Settings oddRate = all;
        oddRate["Baudrate"] = 1200;
        QTest::newRow("a rate not in the list opens the port and is kept")
            << oddRate << 4 << -1 << 2 << "12" << "3" << QPoint(110, 90) << Settings {{"Baudrate", 1200}};
    }

    void storedSettingsAreAppliedAndWrittenBack() {
        QFETCH(Settings, stored);
        storeSettings(stored);
        TfrmMain& w = open(false);
        QFETCH(int, port);
        QFETCH(int, baudIndex);
        QFETCH(int, typeIndex);
        QFETCH(QPoint, position);
        QCOMPARE(w.cbComPort->currentIndex(), port);
        QCOMPARE(w.cbBaudrate->currentIndex(), baudIndex);
        QCOMPARE(w.ComboBox1->currentIndex(), typeIndex);
        QCOMPARE(w.DeviceType, typeIndex + 1);
        QTEST(w.edAddress->text(), "address");
        QTEST(w.edGroup->text(), "group");
        if (!position.isNull()) QCOMPARE(w.pos(), position);
        QVERIFY(w.receiving());
        QCOMPARE(Boxes(boxes_), QStringList());
        close();

        QFETCH(Settings, written);
        QSettings s(QStringLiteral("Kyvane"), QStringLiteral("Tambrel"));
        for (auto it = written.begin(); it != written.end(); ++it)
            QCOMPARE(s.value(it.key()).toString(), it.value().toString());
    }

    void administratorModeShowsTheHiddenControls_data() {
        QTest::addColumn<bool>("admin");
        QTest::newRow("KyvaneAdmin present") << true;
        QTest::newRow("KyvaneAdmin absent") << false;
    }

    void administratorModeShowsTheHiddenControls() {
        QFETCH(bool, admin);
        if (admin) storeSettings({{"KyvaneAdmin", 0}});
        TfrmMain& w = open();
        auto tabsShown = [&] {
            for (QWidget* page : {w.tsBigVx, w.tsVXM_NC, static_cast<QWidget*>(w.tsVarp)})
                if (!w.PageControl1->isTabVisible(w.PageControl1->indexOf(page))) return false;
            return true;
        };
        QCOMPARE(tabsShown(), admin);
        QCOMPARE(!tab().cbHexView->isHidden(), admin);
        QCOMPARE(!tab().edFilter->isHidden(), admin);
        QCOMPARE(!tab().btnLoadFilter->isHidden(), admin);
        for (QWidget* page : {w.tsPicoPLC, w.tsProfi, w.tsFS})
            QVERIFY(w.PageControl1->isTabVisible(w.PageControl1->indexOf(page)));

        // Clicks on the version label reveal the tabs and "Hex view", not the filter controls.
        for (int i = 0; i < vindelor::app::HiddenTabs::kRevealClicks - 1; ++i) QTest::mouseClick(w.Label4, Qt::LeftButton);
        QCOMPARE(tabsShown(), admin);
        QTest::mouseClick(w.Label4, Qt::LeftButton);
        QVERIFY(tabsShown());
        QVERIFY(!tab().cbHexView->isHidden());
        QCOMPARE(!tab().btnLoadFilter->isHidden(), admin);
        close();
        QSettings s(QStringLiteral("Kyvane"), QStringLiteral("Tambrel"));
        QCOMPARE(s.contains("KyvaneAdmin"), admin);  // never written
    }

    void aPortThatCannotOpenLeavesNoThreadThenAGoodOneWorks_data() {
        QTest::addColumn<int>("badPort");
        QTest::newRow("no such device") << 1;
        QTest::newRow("not a serial port") << 2;
    }

    void aPortThatCannotOpenLeavesNoThreadThenAGoodOneWorks() {
        QFETCH(int, badPort);
        storeSettings({{"ComPort", badPort}, {"Baudrate", 19200}, {"Top", 50}, {"Left", 50}, {"Address", 255},
                       {"Group", 1}, {"VxMode", 1}});
        TfrmMain& w = open();
        QCOMPARE(boxes_.boxes.size(), std::size_t {1});
        QVERIFY2(Boxes(boxes_)[0].startsWith("warning|Error|Error opening serial port"), qPrintable(Boxes(boxes_)[0]));
        QVERIFY(!w.receiving());
        QCOMPARE(w.cbComPort->currentIndex(), badPort);  // the window is usable; the choice shows

        // Choose the bad port again by hand, then the good one.
        w.cbComPort->setCurrentIndex(badPort);
        emit w.cbComPort->activated(badPort);
        QCOMPARE(boxes_.boxes.size(), std::size_t {2});
        QVERIFY(!w.receiving());
        // A request on the closed port fails as a send failure, not as a crash.
        select("FIRMWARE");
        QTest::keyClick(tab().lbParams, 'R');
        QCOMPARE(Boxes(boxes_).last(), QStringLiteral("warning|Error|Error sending"));

        w.cbComPort->setCurrentIndex(0);
        emit w.cbComPort->activated(0);
        QVERIFY(w.receiving());
        QCOMPARE(w.PortIndex, 0);
        QCOMPARE(boxes_.boxes.size(), std::size_t {3});
        QTest::keyClick(tab().lbParams, 'R');
        QTRY_COMPARE_WITH_TIMEOUT(line("FIRMWARE"), QStringLiteral(" 20:FIRMWARE                  1.28        Version"),
                                  kWait);
        close();
        QSettings s(QStringLiteral("Kyvane"), QStringLiteral("Tambrel"));
        QCOMPARE(s.value("ComPort").toInt(), 0);
    }

    void changingTheBaudRateReopensThePort() {
        TfrmMain& w = open();
        w.cbBaudrate->setCurrentIndex(4);
        emit w.cbBaudrate->activated(4);
        QCOMPARE(w.BaudRate, 115200);
        QVERIFY(w.receiving());
        QCOMPARE(w.port()->BaudRate, 115200u);
        select("FIRMWARE");
        QTest::keyClick(tab().lbParams, 'r');
        QTRY_VERIFY_WITH_TIMEOUT(line("FIRMWARE").contains("1.28"), kWait);
    }

    void aBrokenDefinitionFileIsReportedOnceNotAtEveryActivation_data() {
        QTest::addColumn<bool>("foldersAsFiles");
        QTest::newRow("no definition files") << false;
        QTest::newRow("folders named as the files cannot be read") << true;
    }

    void aBrokenDefinitionFileIsReportedOnceNotAtEveryActivation() {
        QFETCH(bool, foldersAsFiles);
        QTemporaryDir empty;
        if (foldersAsFiles) {
            QVERIFY(QDir(empty.path()).mkdir(QStringLiteral("tambrel.dat")));
            QVERIFY(QDir(empty.path()).mkdir(QStringLiteral("bitdefs.dat")));
        }
        const QString back = QDir::currentPath();
        struct GoBack {
            QString folder;
            ~GoBack() { QDir::setCurrent(folder); }
        } goBack {back};
        QVERIFY(QDir::setCurrent(empty.path()));
        TfrmMain& w = open(false);
        const std::size_t once = boxes_.boxes.size();
        QVERIFY(once >= 1);
        const QString first = QString::fromStdString(boxes_.boxes[0]);
        QVERIFY2(first.startsWith("warning|Error|Error loading parameter file (LINE 0)"), qPrintable(first));
        for (int i = 0; i < 3; ++i) {
            QEvent activate(QEvent::WindowActivate);
            QApplication::sendEvent(&w, &activate);
        }
        QCOMPARE(boxes_.boxes.size(), once);
        // A reload the user asks for reports again.
        emit w.ComboBox1->activated(0);
        QCOMPARE(boxes_.boxes.size(), 2 * once);
        QVERIFY(QDir::setCurrent(back));
    }

    void withoutLocalFilesTheDefinitionsComeFromTheUsersFolder() {
        QTemporaryDir empty, data;
        const QString userDefs = data.filePath("vindelor/defs");
        QVERIFY(QDir().mkpath(userDefs));
        for (const QString& name : QDir(VINDELOR_SOURCE_DIR "/defs").entryList({"*.dat"}))
            QVERIFY(QFile::copy(VINDELOR_SOURCE_DIR "/defs/" + name, userDefs + "/" + name));
        const QString back = QDir::currentPath();
        const QByteArray oldData = qgetenv("XDG_DATA_HOME");
        QVERIFY(QDir::setCurrent(empty.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
        open(false);
        QVERIFY(QDir::setCurrent(back));
        qputenv("XDG_DATA_HOME", oldData);
        QCOMPARE(Boxes(boxes_), QStringList());
        QCOMPARE(QString::fromStdString(tab().list.loadedFrom), userDefs);
        QVERIFY(line("FIRMWARE").contains("FIRMWARE"));
    }

    void theVersionLabelTellsTheLicence() {
        TfrmMain& w = open(false);
        QVERIFY(w.Label4->toolTip().contains("GPL-3.0-or-later"));
        emit w.Label4->customContextMenuRequested(QPoint(1, 1));
        QCOMPARE(boxes_.boxes.size(), std::size_t {1});
        QVERIFY(Boxes(boxes_).front().startsWith("plain|About Vindelor|Vindelor " VINDELOR_VERSION "\n"));
        QVERIFY(Boxes(boxes_).front().contains("License GPL-3.0-or-later"));
    }

    void anOperationOnThePortDisablesTheOtherSendersUntilItEnds() {
        TfrmMain& w = open();
        QPushButton* stop = tab().btnReset;       // stands for the operation's own Stop button
        QPushButton* other = tab().btnWriteToFlash;
        tab().btnClearSample->setEnabled(false);  // disabled before: stays disabled after
        {
            PortBusy busy(w, {stop});
            QVERIFY(!other->isEnabled());
            QVERIFY(!tab().lbParams->isEnabled());
            QVERIFY(!w.cbComPort->isEnabled());
            QVERIFY(!w.cbBaudrate->isEnabled());
            QVERIFY(!w.stPingModule->isEnabled());
            QVERIFY(stop->isEnabled());
            QVERIFY(w.portBusy());
        }
        QVERIFY(!w.portBusy());
        QVERIFY(other->isEnabled());
        QVERIFY(tab().lbParams->isEnabled());
        QVERIFY(w.cbComPort->isEnabled());
        QVERIFY(!tab().btnClearSample->isEnabled());
    }

    void closingDuringAnOperationCancelsItAndClosesWhenItHasEnded() {
        TfrmMain& w = open();
        bool cancelled = false;
        auto busy = std::make_unique<PortBusy>(w, std::initializer_list<QWidget*> {}, [&] { cancelled = true; });
        w.close();
        QVERIFY(cancelled);
        QVERIFY(w.isVisible());
        busy.reset();
        QTRY_VERIFY(!w.isVisible());
    }

    void aPortJobRunsOffTheWindowThreadWhileTheWindowKeepsHandlingEvents() {
        TfrmMain& w = open();
        std::atomic<bool> release {false};
        bool ranOnWorker = false;
        bool windowHandledEvents = false;
        QTimer::singleShot(0, &w, [&] {
            windowHandledEvents = true;
            release = true;
        });
        RunPortJob([&] {
            ranOnWorker = QThread::currentThread() != w.thread();
            while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            PostToWindow(&w, [&] { w.meSend->setPlainText(QStringLiteral("from the job")); });
        });
        QVERIFY(ranOnWorker);
        QVERIFY(windowHandledEvents);
        QTRY_COMPARE(w.meSend->toPlainText(), QStringLiteral("from the job"));

        QVERIFY_THROWS_EXCEPTION(std::runtime_error, RunPortJob([] { throw std::runtime_error("gone"); }));
    }

    void thePortBoxNamesTheDeviceOfEveryNumber() {
        TfrmMain& w = open(false);
        vindelor::app::PortComboBox* box = w.cbComPort;
        box->refreshDevices();
        QCOMPARE(box->count(), 63);
        for (int i = 0; i < 63; ++i) QCOMPARE(box->itemText(i), QStringLiteral("COM%1").arg(i + 1));
        QVERIFY(box->deviceText(0).startsWith(portDir() + "/com1"));
        QVERIFY(box->deviceExists(0));
        QVERIFY(!box->deviceText(0).contains("not present"));
        QVERIFY(box->deviceText(1).startsWith(portDir() + "/com2"));
        QVERIFY(!box->deviceExists(1));
        QVERIFY(box->deviceText(1).contains("not present"));
        QVERIFY(box->deviceText(9).startsWith("/dev/ttyS9"));
        QVERIFY(box->deviceText(62).startsWith("/dev/ttyUSB30"));
        QCOMPARE(box->toolTip(), box->deviceText(0));
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindow_test.moc"
