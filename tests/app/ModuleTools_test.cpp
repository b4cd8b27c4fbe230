// The expansion-module tabs against the simulated device: the module log of "VXM-NC", the
// group-write module's tab, the "Rx" and "Profi" views and the motor tests of "BigVx". Their
// controls and texts, and every byte their buttons send.
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QSpinBox>

#include <chrono>
#include <thread>

#include "WindowFixture.h"
#include "app/GroupModuleTab.h"
#include "app/ModuleLogPanel.h"
#include "app/MotorTestPanel.h"
#include "app/ProfiTab.h"
#include "app/RxTab.h"
#include "modules/ModulePoll.h"

using namespace vindelor::app;

class ModuleToolsTest : public WindowFixture {
    Q_OBJECT

    GroupModuleTab& fs() { return *window_->fsTab; }
    RxTab& rx() { return *window_->rxTab; }
    ProfiTab& profi() { return *window_->profiTab; }
    ModuleLogPanel& log() { return *window_->moduleLog; }
    MotorTestPanel& motor() { return *window_->motorTests; }

    // The 4-byte writes the device has taken, as (register, value), in order.
    std::vector<std::pair<int, std::uint32_t>> writes() {
        std::vector<std::pair<int, std::uint32_t>> out;
        for (const auto& f : device_->frames()) {
            if (f.letter != 'R' || f.body.size() != 6 || f.body[1] != 4) continue;
            out.emplace_back(f.body[0], f.body[2] | f.body[3] << 8 | f.body[4] << 16 | static_cast<std::uint32_t>(f.body[5]) << 24);
        }
        return out;
    }

private slots:
    void initTestCase() { enterDefinitionFolder(); }
    void init() { setUpWindowTest(); }
    void cleanup() {
        tearDownWindowTest();
        enterDefinitionFolder();
    }

    void everyControlStartsWithItsText() {
        TfrmMain& w = open();
        QCOMPARE(w.PageControl1->tabText(w.PageControl1->indexOf(w.tsPicoPLC)), QStringLiteral("Rx"));
        QCOMPARE(w.PageControl1->tabText(w.PageControl1->indexOf(w.tsProfi)), QStringLiteral("Profi"));
        QCOMPARE(w.PageControl1->tabText(w.PageControl1->indexOf(w.tsFS)), QStringLiteral("VXM-NSx"));
        const std::pair<const char*, const char*> texts[] = {
            {"lblFSStatus", "lblFSStatus"}, {"edGroupID", "5"},       {"edGroupReg", "3"},
            {"edGroupValue", "1234"},       {"edSequence", "1"},      {"edModuleRegister", "11"},
            {"edModuleValue", "1"},         {"edModuleReadValue", ""}, {"btnFS_Status", "Get Status"},
            {"btnSendGroup", "Group Write"}, {"Button12", "Write module register"},
            {"Button13", "Read module register"}, {"lblDebugInfo", "Debug Info"},
            {"btnReadDebug", "Read Debug Info"}, {"btnPicoReset", "Software reset"}, {"btnPicoStop", "Stop program"},
            {"lblProfiData", "Data..."},    {"btnRead", "Read Profi Data"}, {"btnProfiWrite", "Write Profi Data"},
            {"edWriteData", ""},            {"Button21", "ReadDbgData"}, {"Button22", "Start Poll"},
            {"Label20", "Not Running"},     {"Button23", "Clear Log"}, {"Button24", "FileDump"},
            {"btnBreakTest", "Break Test"}, {"btnStartRotate", "Start manual rotate"}, {"btnStopRotate", "Stop rotate"},
            {"edRotateRate", "5"},          {"edTimerVal", "100"},
        };
        for (const auto& [name, text] : texts) {
            auto* widget = w.PageControl1->findChild<QWidget*>(QString::fromLatin1(name));
            QVERIFY2(widget, name);
            QString shown;
            if (auto* l = qobject_cast<QLabel*>(widget)) shown = l->text();
            if (auto* e = qobject_cast<QLineEdit*>(widget)) shown = e->text();
            if (auto* b = qobject_cast<QPushButton*>(widget)) shown = b->text();
            QCOMPARE(shown, QString::fromLatin1(text));
        }
        QVERIFY(fs().edModuleReadValue->isReadOnly());
        QCOMPARE(log().Label20->palette().color(QPalette::WindowText), QColor(Qt::red));
        QCOMPARE(motor().udRotate->minimum(), 0);
        QCOMPARE(motor().udRotate->maximum(), 100);
        QCOMPARE(motor().udTimerVal->minimum(), 15);
        QCOMPARE(motor().udTimerVal->maximum(), 500);
        QVERIFY(!motor().tiBreakTest->isActive());
        QCOMPARE(motor().tiBreakTest->interval(), 500);
        QVERIFY(!motor().tiRotate->isActive());
    }

    // --- VXM-NSx ---

    void groupWrite_data() {
        QTest::addColumn<QString>("sequence");
        QTest::addColumn<QString>("reg");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QString>("next");
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("start texts") << "1" << "3"
                                     << Echo({0x59, 0x59, 0x59, 0x05, 0xFA, 0x01, 0xFE, 0x03, 0xFC, 0x02, 0xFD, 0xD2,
                                              0x2D, 0x04, 0xFB, 0xAA, 0xAA})
                                     << "2" << QStringList();
        QTest::newRow("sequence 255") << "255" << "3"
                                      << Echo({0x59, 0x59, 0x59, 0x05, 0xFA, 0xFF, 0x00, 0x03, 0xFC, 0x02, 0xFD, 0xD2,
                                               0x2D, 0x04, 0xFB, 0xAA, 0xAA})
                                      << "0" << QStringList();
        QTest::newRow("unknown register") << "1" << "200"
                                          << Echo({0x59, 0x59, 0x59, 0x05, 0xFA, 0x01, 0xFE, 0xC8, 0x37}) << "2"
                                          << QStringList {"warning|Error|Could not find parameter"};
        QTest::newRow("sequence not a number")
            << "one" << "3" << Echo({0x59, 0x59, 0x59, 0x05, 0xFA}) << "one"
            << QStringList {"warning|Error|'one' is not a valid integer value"};
    }

    void groupWrite() {
        QFETCH(QString, sequence);
        QFETCH(QString, reg);
        QFETCH(QString, sent);
        QFETCH(QString, next);
        QFETCH(QStringList, boxes);
        TfrmMain& w = open();
        w.meRecieved->setPlainText(QStringLiteral("old"));
        fs().edSequence->setText(sequence);
        fs().edGroupReg->setText(reg);
        fs().btnSendGroup->click();
        QCOMPARE(w.meSend->toPlainText(), sent);
        QCOMPARE(w.meRecieved->toPlainText(), QString());
        QCOMPARE(fs().edSequence->text(), next);
        QCOMPARE(Boxes(boxes_), boxes);
    }

    void moduleRegistersAndStatusAreShown() {
        TfrmMain& w = open();
        fs().Button12->click();
        QCOMPARE(w.meSend->toPlainText(), Echo({0x5B, 0x5B, 0x5B, 0xFF, 0x00, 0x0B, 0xF4, 0x04, 0xFB, 0x01, 0xFE, 0x00,
                                                0xFF, 0x00, 0xFF, 0x00, 0xFF, 0xAA, 0xAA}));
        QTRY_COMPARE_WITH_TIMEOUT(device_->moduleRegister(11), 1, kWait);
        device_->setModuleRegister(11, -1);
        fs().Button13->click();
        QCOMPARE(w.meSend->toPlainText(), Echo({0x5A, 0x5A, 0x5A, 0xFF, 0x00, 0x0B, 0xF4, 0xAA, 0xAA}));
        QTRY_COMPARE_WITH_TIMEOUT(fs().edModuleReadValue->text(), QStringLiteral("11 = -1"), kWait);

        device_->setModuleStatus({0x02, 0x00, 0xE8, 0x03, 0x00, 0x00, 0x07, 0x05});
        fs().btnFS_Status->click();
        QCOMPARE(w.meSend->toPlainText(), Echo({0x58, 0x58, 0x58, 0xFF, 0x00, 0xAA, 0xAA}));
        QTRY_COMPARE_WITH_TIMEOUT(fs().lblFSStatus->text(),
                                  QStringLiteral("Actual position = 1000\nModuleStatus = 0b0000'0000'0000'0010\n"
                                                 "Last group sequence = 5\nRecieve errors = 7\n"),
                                  kWait);
        QCOMPARE(Boxes(boxes_), QStringList());
    }

    void aBadModuleValueSendsNothing() {
        TfrmMain& w = open();
        w.meSend->setPlainText(QStringLiteral("old"));
        fs().edModuleValue->setText(QStringLiteral("1e3"));
        fs().Button12->click();
        QCOMPARE(w.meSend->toPlainText(), QString());
        QCOMPARE(Boxes(boxes_), QStringList {"warning|Error|'1e3' is not a valid integer value"});
    }

    // --- Rx and Profi ---

    void debugInfoIsShownAfterTheWaitingText() {
        TfrmMain& w = open();
        device_->setDebugInfo({0x01, 0x00, 0x00, 0x34, 0x12, 0x00, 0x00, 0x13});
        rx().btnReadDebug->click();
        QCOMPARE(rx().lblDebugInfo->text(), QStringLiteral("Waiting for debug info..."));
        QCOMPARE(w.meSend->toPlainText(), Echo({0x30, 0x30, 0x30, 0xFF, 0x00, 0xAA, 0xAA}));
        // The tabs as eight-column stops: every row's colon in column 16, "Error Flag" and
        // "In Position" too.
        QTRY_COMPARE_WITH_TIMEOUT(rx().lblDebugInfo->text(),
                                  QStringLiteral("Current State   : 1\n\n"
                                                 "Timer Status    : 0\n"
                                                 "Counter Status  : 0\n"
                                                 "Error Flag      : 0\n"
                                                 "In Position     : 0\n\n"
                                                 "Inputs          : 000000\n"
                                                 "Outputs         : 000000\n\n"
                                                 "Timer           : 4660\n"
                                                 "Counter         : 0\n"
                                                 "Mode Command: Init Mode, Acelleration 4"),
                                  kWait);
        rx().btnPicoReset->click();
        QCOMPARE(w.meSend->toPlainText(), Echo({0x33, 0x33, 0x33, 0xFF, 0x00, 0xAA, 0xAA}));
        rx().btnPicoStop->click();
        QCOMPARE(w.meSend->toPlainText(), Echo({0x32, 0x32, 0x32, 0xFF, 0x00, 0xAA, 0xAA}));
    }

    void writeProfiData_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QStringList>("boxes");
        auto frame = [](Bytes data) {
            Bytes b = {0x41, 0x41, 0x41, 0xFF, 0x00};
            for (auto x : data) b.insert(b.end(), {x, static_cast<std::uint8_t>(~x)});
            b.insert(b.end(), {0xAA, 0xAA});
            return Echo(b);
        };
        const QString oneTwoThree = frame({1, 2, 3, 0, 0, 0, 0, 0, 0});
        QTest::newRow("commas") << "1,2,3" << oneTwoThree << QStringList();
        QTest::newRow("blank and semicolon") << "1 2;3" << oneTwoThree << QStringList();
        QTest::newRow("comma at the end") << "1,2,3," << oneTwoThree << QStringList();
        QTest::newRow("300") << "300" << frame({0x2C, 0, 0, 0, 0, 0, 0, 0, 0}) << QStringList();
        QTest::newRow("empty") << "" << frame({0, 0, 0, 0, 0, 0, 0, 0, 0}) << QStringList();
        QTest::newRow("two separators") << "1,,2" << QString()
                                        << QStringList {"warning|Error|'' is not a valid integer value"};
        QTest::newRow("ten values") << "1 2 3 4 5 6 7 8 9 10" << QString()
                                    << QStringList {"warning|Error|At most 9 values can be written; the text holds 10"};
    }

    void writeProfiData() {
        QFETCH(QString, text);
        QFETCH(QString, sent);
        QFETCH(QStringList, boxes);
        TfrmMain& w = open();
        w.meSend->setPlainText(QStringLiteral("old"));
        profi().edWriteData->setText(text);
        profi().btnProfiWrite->click();
        QCOMPARE(w.meSend->toPlainText(), sent);
        QCOMPARE(Boxes(boxes_), boxes);
    }

    void profiDataAndTheDebugAreaAreShown() {
        TfrmMain& w = open();
        device_->setProfiData({0x01, 0x80, 0x55});
        profi().btnRead->click();
        QCOMPARE(profi().lblProfiData->text(), QStringLiteral("Waiting for profi data..."));
        QCOMPARE(w.meSend->toPlainText(), Echo({0x40, 0x40, 0x40, 0xFF, 0x00, 0xAA, 0xAA}));
        QTRY_VERIFY_WITH_TIMEOUT(profi().lblProfiData->text().startsWith(
                                     QStringLiteral("Data 0: 0x01 \t(00000001)\nData 1: 0x80 \t(10000000)\n")),
                                 kWait);
        QVERIFY(profi().lblProfiData->text().endsWith(QStringLiteral("Data 7: 0x00 \t(00000000)\n")));

        profi().Button21->click();
        QCOMPARE(profi().lblProfiData->text(), QStringLiteral("Waiting for profi debug data..."));
        QCOMPARE(w.meSend->toPlainText(), Echo({0x43, 0x43, 0x43, 0xFF, 0x00, 0xAA, 0xAA}));
        QTRY_VERIFY_WITH_TIMEOUT(profi().lblProfiData->text().startsWith(
                                     QStringLiteral("00: \n00 01 02 03 04 05 06 07 08  09 0A 0B 0C 0D 0E 0F \n10: \n")),
                                 kWait);
        QCOMPARE(profi().lblProfiData->text().count(QLatin1Char('\n')), 32);
    }

    // --- BigVx ---

    void breakTestTogglesAndCarriesItsValueOver() {
        TfrmMain& w = open();
        motor().btnBreakTest->click();
        QVERIFY(motor().breakTestRunning());
        QVERIFY(!rx().btnReadDebug->isEnabled());
        QVERIFY(!w.cbComPort->isEnabled());
        QVERIFY(motor().btnBreakTest->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(writes().size(), std::size_t {1}, kWait);
        motor().btnBreakTest->click();
        QVERIFY(!motor().breakTestRunning());
        QVERIFY(rx().btnReadDebug->isEnabled());
        QVERIFY(w.cbComPort->isEnabled());
        QCOMPARE(writes(), (std::vector<std::pair<int, std::uint32_t>> {{2, 3}}));
        // The next run goes on from where the last one stopped.
        motor().btnBreakTest->click();
        QTRY_COMPARE_WITH_TIMEOUT(writes().size(), std::size_t {2}, kWait);
        motor().btnBreakTest->click();
        QCOMPARE(writes().back(), (std::pair<int, std::uint32_t> {2, 0}));
    }

    void aBreakTestStopsAtItsFirstFailure() {
        TfrmMain& w = open();
        motor().btnBreakTest->click();
        sim_->hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!motor().breakTestRunning(), kWait);
        QTest::qWait(700);
        QCOMPARE(boxes_.boxes.size(), std::size_t {1});
        // The senders stay off now because the port is gone, and come back with it.
        auto* status = w.findChild<QLabel*>(QStringLiteral("lblPortStatus"));
        QVERIFY(status);
        QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith(QStringLiteral("Port lost")), kWait);
    }

    void rotationStepsRegister176AndStopWritesZero() {
        TfrmMain& w = open();
        motor().btnStartRotate->click();
        QVERIFY(motor().rotating());
        QCOMPARE(motor().tiRotate->interval(), 100);
        QVERIFY(!rx().btnReadDebug->isEnabled());
        QVERIFY(w.cbComPort->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(writes().size() >= 4, kWait);
        motor().btnStopRotate->click();
        QVERIFY(!motor().rotating());
        QVERIFY(rx().btnReadDebug->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(writes().back(), (std::pair<int, std::uint32_t> {2, 0}), kWait);
        const auto all = writes();
        QCOMPARE(all.front(), (std::pair<int, std::uint32_t> {2, 7}));
        QCOMPARE(all.back(), (std::pair<int, std::uint32_t> {2, 0}));
        for (std::size_t i = 1; i + 1 < all.size(); ++i)
            QCOMPARE(all[i], (std::pair<int, std::uint32_t> {176, static_cast<std::uint32_t>(5 * i)}));
        QCOMPARE(motor().rotation.Total(), static_cast<std::int32_t>(5 * (all.size() - 2)));
        // A stopped rotation writes 0 again.
        motor().btnStopRotate->click();
        QTRY_COMPARE_WITH_TIMEOUT(writes().size(), all.size() + 1, kWait);
        QCOMPARE(writes().back(), (std::pair<int, std::uint32_t> {2, 0}));
        QCOMPARE(Boxes(boxes_), QStringList());
    }

    // The ticks never come early: tick k comes no sooner than k intervals after the start. A
    // coarse timer moves each tick by up to 5 % towards a round tenth or half of a second, so
    // the timers start a little past one (120 ms past a multiple of 500 ms), where that move
    // is early.
    void motorTestTimersKeepTheirIntervals_data() {
        QTest::addColumn<bool>("rotation");
        QTest::addColumn<int>("ticks");
        QTest::newRow("rotation, 100 ms") << true << 8;
        QTest::newRow("break test, 500 ms") << false << 4;
    }

    void motorTestTimersKeepTheirIntervals() {
        QFETCH(bool, rotation);
        QFETCH(int, ticks);
        open();
        QTimer* timer = rotation ? motor().tiRotate : motor().tiBreakTest;
        const int interval = rotation ? motor().udTimerVal->value() : vindelor::modules::kBreakTestIntervalMs;
        QElapsedTimer clock;
        std::vector<qint64> at;
        connect(timer, &QTimer::timeout, this, [&] { at.push_back(clock.nsecsElapsed()); });
        using namespace std::chrono_literals;
        constexpr auto kPhase = 120ms;
        constexpr auto kRound = 500ms;
        const auto past = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now().time_since_epoch()) %
                          kRound;
        std::this_thread::sleep_for((kPhase - past + kRound) % kRound);
        clock.start();  // before the timer starts: this only makes the bound below easier
        (rotation ? motor().btnStartRotate : motor().btnBreakTest)->click();
        QTRY_VERIFY_WITH_TIMEOUT(at.size() >= static_cast<std::size_t>(ticks), kWait + ticks * interval);
        (rotation ? motor().btnStopRotate : motor().btnBreakTest)->click();
        QCOMPARE(timer->timerType(), Qt::PreciseTimer);
        // Late ticks are the machine's load; early ones are the timer's kind. A millisecond of
        // leeway for rounding.
        constexpr qint64 kLeewayNs = 1'000'000;
        for (std::size_t k = 1; k <= at.size(); ++k) {
            const qint64 due = static_cast<qint64>(k) * interval * 1'000'000;
            QVERIFY2(at[k - 1] >= due - kLeewayNs, qPrintable(QStringLiteral("tick %1 came %2 ms early")
                                                                   .arg(k)
                                                                   .arg(static_cast<double>(due - at[k - 1]) / 1e6)));
        }
    }

    void incrementZeroWritesTheSameValue() {
        open();
        motor().udRotate->setValue(0);
        motor().udTimerVal->setValue(15);
        motor().btnStartRotate->click();
        QCOMPARE(motor().tiRotate->interval(), 15);
        QTRY_VERIFY_WITH_TIMEOUT(writes().size() >= 4, kWait);
        motor().btnStopRotate->click();
        QTRY_COMPARE_WITH_TIMEOUT(writes().back(), (std::pair<int, std::uint32_t> {2, 0}), kWait);
        const auto all = writes();
        for (std::size_t i = 1; i + 1 < all.size(); ++i)
            QCOMPARE(all[i], (std::pair<int, std::uint32_t> {176, 0}));
    }

    void closingOrChangingThePortStopsARotation_data() {
        QTest::addColumn<bool>("close");
        QTest::newRow("closing the window") << true;
        QTest::newRow("changing the port") << false;
    }

    void closingOrChangingThePortStopsARotation() {
        QFETCH(bool, close);
        TfrmMain& w = open();
        motor().btnStartRotate->click();
        QTRY_VERIFY_WITH_TIMEOUT(writes().size() >= 2, kWait);
        if (close) {
            w.close();
            QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), kWait);
        } else {
            // COM2 names no device: the stop goes out on the old port before it closes. (Not
            // COM5, the same pseudo-terminal under another number: opening it again discards
            // what its other side has not read yet.)
            w.cbComPort->setCurrentIndex(1);
            emit w.cbComPort->activated(1);
            QVERIFY(!w.receiving());
            QCOMPARE(boxes_.boxes.size(), std::size_t {1});
        }
        QVERIFY(!motor().rotating());
        QTRY_COMPARE_WITH_TIMEOUT(writes().back(), (std::pair<int, std::uint32_t> {2, 0}), kWait);
        const std::size_t count = writes().size();
        QTest::qWait(300);
        QCOMPARE(writes().size(), count);
    }

    void aRotationCutOffByALostPortIsStoppedWhenThePortComesBack() {
        TfrmMain& w = open();
        motor().btnStartRotate->click();
        QTRY_VERIFY_WITH_TIMEOUT(writes().size() >= 2, kWait);
        sim_->hangUp();
        // The next tick fails; so does its stop, on a line that is gone.
        QTRY_VERIFY_WITH_TIMEOUT(!motor().rotating(), kWait);
        QCOMPARE(boxes_.boxes.size(), std::size_t {1});
        auto* status = w.findChild<QLabel*>(QStringLiteral("lblPortStatus"));
        QVERIFY(status);
        QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith(QStringLiteral("Port lost")), kWait);
        QCOMPARE(writes().back().first, 176);

        // The adapter is plugged in again: the stop goes out at once.
        sim_ = std::make_unique<vindelor::sim::SimPort>(device_);
        vindelor::sim::LinkPort(portDir().toStdString(), 1, sim_->slavePath());
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("Port back"), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(writes().back(), (std::pair<int, std::uint32_t> {2, 0}), kWait);
        const std::size_t count = writes().size();
        QTest::qWait(300);
        QCOMPARE(writes().size(), count);
        QCOMPARE(boxes_.boxes.size(), std::size_t {1});
    }

    // --- VXM-NC ---

    void pollAppendsTheModulesTextAndGivesThePortBack() {
        TfrmMain& w = open();
        log().Button22->click();
        QCOMPARE(log().Label20->text(), QStringLiteral("Running"));
        QCOMPARE(log().Label20->palette().color(QPalette::WindowText), QColor(Qt::darkGreen));
        QVERIFY(!rx().btnReadDebug->isEnabled());
        QVERIFY(log().Button22->isEnabled());
        device_->feedModuleText(std::string("Hi\r\nthere\0ignored", 17));
        QTRY_COMPARE_WITH_TIMEOUT(log().RichEdit1->toPlainText(), QStringLiteral("Hi\nthere"), kWait);
        // The poll is not echoed.
        QCOMPARE(w.meSend->toPlainText(), QString());
        log().Button22->click();
        QCOMPARE(log().Label20->text(), QStringLiteral("Not Running"));
        QCOMPARE(log().Label20->palette().color(QPalette::WindowText), QColor(Qt::red));
        QVERIFY(rx().btnReadDebug->isEnabled());
        QTest::qWait(50);  // a request sent just before the stop may still be on its way
        const int polls = device_->pollCount();
        QVERIFY(polls > 1);

        // The receive thread reads replies again.
        device_->setModuleRegister(11, 77);
        fs().Button13->click();
        QTRY_COMPARE_WITH_TIMEOUT(fs().edModuleReadValue->text(), QStringLiteral("11 = 77"), kWait);
        QCOMPARE(device_->pollCount(), polls);

        // The log stays until it is cleared, and is dumped line by line.
        QVERIFY(QDir::setCurrent(folder_->path()));
        log().Button24->click();
        QFile dump(folder_->filePath(QString::fromLatin1(vindelor::modules::kDumpFile)));
        QVERIFY(dump.open(QIODevice::ReadOnly));
        QCOMPARE(dump.readAll(), QByteArray("Hi\r\nthere\r\n"));
        log().Button23->click();
        QCOMPARE(log().RichEdit1->toPlainText(), QString());
        QCOMPARE(Boxes(boxes_), QStringList());
    }

    void aPortThatCannotBeReopenedStopsThePoll() {
        TfrmMain& w = open();
        log().Button22->click();
        QTRY_VERIFY_WITH_TIMEOUT(device_->pollCount() >= 2, kWait);
        sim_->hangUp();
        QTRY_COMPARE_WITH_TIMEOUT(log().Label20->text(), QStringLiteral("Not Running"), kWait);
        QVERIFY(!log().polling());
        QCOMPARE(boxes_.boxes.size(), std::size_t {1});
        QVERIFY2(QString::fromStdString(boxes_.boxes[0]).startsWith(QStringLiteral("warning|Error|Error opening port")),
                 boxes_.boxes[0].c_str());
        auto* status = w.findChild<QLabel*>(QStringLiteral("lblPortStatus"));
        QVERIFY(status);
        QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith(QStringLiteral("Port lost")), kWait);
    }

    void closingTheWindowStopsThePollFirst() {
        TfrmMain& w = open();
        log().Button22->click();
        QTRY_VERIFY_WITH_TIMEOUT(device_->pollCount() >= 2, kWait);
        w.close();
        QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), kWait);
        QVERIFY(!log().polling());
        QTest::qWait(50);  // a request sent just before the stop may still be on its way
        const int polls = device_->pollCount();
        QTest::qWait(100);
        QCOMPARE(device_->pollCount(), polls);
    }

    void aDumpThatCannotBeWrittenIsReported() {
        open();
        QVERIFY(QDir::setCurrent(folder_->path()));
        QVERIFY(QDir(folder_->path()).mkdir(QString::fromLatin1(vindelor::modules::kDumpFile)));
        log().Button24->click();
        QCOMPARE(boxes_.boxes.size(), std::size_t {1});
        QVERIFY2(QString::fromStdString(boxes_.boxes[0]).contains(QStringLiteral("CANDump.txt")), boxes_.boxes[0].c_str());
    }
};

QTEST_MAIN(ModuleToolsTest)
#include "ModuleTools_test.moc"
