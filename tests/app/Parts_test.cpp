// The small parts of the window: the value-entry dialog, the worker-to-window hand-over, the
// general error report, the settings reader and the Windows-1252 conversion.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/Cp1252.h"
#include "app/GuardedApplication.h"
#include "app/QtMessageSink.h"
#include "app/SettingsStore.h"
#include "app/TdlgEnterValue.h"
#include "firmware/TErr.h"
#include "protocol/Messages.h"
#include "protocol/RecvThread.h"
#include "serial/TSerCom.h"
#include "serial/TSerErr.h"
#include "sim/RegisterDevice.h"
#include "sim/SimPort.h"
#include "support/RecordingNotifier.h"

using namespace vindelor::app;

namespace {

constexpr int kWait = 5000;

struct Seen {
    int number;
    std::vector<std::uint8_t> payload;
    bool onWindowThread;
};

}  // namespace

class PartsTest : public QObject {
    Q_OBJECT

private slots:
    void theDialogAsksForAValue_data() {
        QTest::addColumn<bool>("accept");
        QTest::addColumn<bool>("byKey");
        QTest::newRow("OK button") << true << false;
        QTest::newRow("Return key, OK is the default") << true << true;
        QTest::newRow("Cancel button") << false << false;
        QTest::newRow("Escape key") << false << true;
    }

    void theDialogAsksForAValue() {
        QFETCH(bool, accept);
        QFETCH(bool, byKey);
        TdlgEnterValue dlg;
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Change value"));
        QStringList labels;
        for (auto* l : dlg.findChildren<QLabel*>()) labels << l->text();
        QVERIFY(labels.contains("Parameter:"));
        QVERIFY(labels.contains("New Value:"));
        QCOMPARE(dlg.OKBtn->text(), QStringLiteral("OK"));
        QCOMPARE(dlg.CancelBtn->text(), QStringLiteral("Cancel"));
        QVERIFY(dlg.OKBtn->isDefault());
        for (const char* name : {"lblParamName", "edNewValue", "OKBtn", "CancelBtn"})
            QVERIFY(dlg.findChild<QWidget*>(name));

        dlg.edNewValue->setText("left from last time");
        bool sawEmptyBox = false;
        bool focused = false;
        QTimer::singleShot(0, &dlg, [&] {
            QTRY_VERIFY(dlg.isVisible());
            sawEmptyBox = dlg.edNewValue->text().isEmpty();
            QTRY_VERIFY(dlg.edNewValue->hasFocus());
            focused = true;
            QTest::keyClicks(dlg.edNewValue, "42");
            if (accept && byKey) QTest::keyClick(dlg.edNewValue, Qt::Key_Return);
            else if (accept) QTest::mouseClick(dlg.OKBtn, Qt::LeftButton);
            else if (byKey) QTest::keyClick(dlg.edNewValue, Qt::Key_Escape);
            else QTest::mouseClick(dlg.CancelBtn, Qt::LeftButton);
        });
        const auto answer = dlg.ask("KP");
        QCOMPARE(dlg.lblParamName->text(), QStringLiteral("KP"));
        QVERIFY(sawEmptyBox);
        QVERIFY(focused);
        QCOMPARE(answer.has_value(), accept);
        if (accept) QCOMPARE(*answer, QStringLiteral("42"));
    }

    void postedAndSentMessagesArriveInOrderOnTheWindowThread() {
        QObject receiver;
        std::vector<Seen> seen;
        QtMessageSink sink(&receiver, [&](const vindelor::protocol::Message& m) {
            seen.push_back({m.number, {m.payload.begin(), m.payload.end()},
                            QThread::currentThread() == receiver.thread()});
        });
        std::atomic<bool> sendReturned {false};
        std::thread worker([&] {
            sink.post(1, 0, 0);
            std::vector<std::uint8_t> data {1, 2, 3};
            vindelor::protocol::Message m;
            m.number = 2;
            m.payload = data;
            sink.send(m);
            data.assign(3, 0xEE);  // the handler has run: the buffer is the worker's again
            sendReturned = true;
            sink.post(3, 0, 0);
        });
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), std::size_t {3}, kWait);
        worker.join();
        QVERIFY(sendReturned);
        QCOMPARE(seen[0].number, 1);
        QCOMPARE(seen[1].number, 2);
        QCOMPARE(seen[1].payload, (std::vector<std::uint8_t> {1, 2, 3}));
        QCOMPARE(seen[2].number, 3);
        for (const auto& s : seen) QVERIFY(s.onWindowThread);
    }

    void aPauseWhileAReplyIsOnItsWayToTheWindowHandsItOverAndReturns() {
        // A reply the window must handle (sent, not posted) arrives just as a button pauses
        // the receive thread: the pause must deliver it rather than wait for a thread that
        // waits for the window.
        using vindelor::protocol::Message;
        using vindelor::protocol::MsgModuleRegister;
        QObject receiver;
        std::vector<int> handled;
        QtMessageSink window(&receiver, [&](const Message& m) { handled.push_back(m.number); });
        struct Announcing : vindelor::protocol::MessageSink {
            explicit Announcing(QtMessageSink& w) : inner(w) {}
            void post(int n, std::int64_t w, std::int64_t l) override { inner.post(n, w, l); }
            void send(const Message& m) override {
                if (m.number == MsgModuleRegister) sending.set_value();
                inner.send(m);
            }
            void deliverPending() override { inner.deliverPending(); }
            QtMessageSink& inner;
            std::promise<void> sending;
        } sink(window);

        auto device = std::make_shared<vindelor::sim::RegisterDevice>();
        vindelor::sim::SimPort sim(device);
        vindelor::serial::TSerCom port(sim.slavePath(), 19200, 8000);
        port.Open();
        vindelor::protocol::RecvThread thread(&port, &sink, {});
        auto sending = sink.sending.get_future();
        std::vector<std::uint8_t> frame;
        vindelor::sim::AppendReplyFrame(frame, '[', {0x0B, 4, 0x01, 0x00, 0x00, 0x80});
        sim.inject(frame);
        QVERIFY(sending.wait_for(std::chrono::milliseconds(kWait)) == std::future_status::ready);

        // Should the pause hang, the watchdog releases the send so that the test fails
        // instead of hanging.
        std::mutex m;
        std::condition_variable cv;
        bool paused = false;
        bool released = false;
        std::thread watchdog([&] {
            std::unique_lock lock(m);
            if (!cv.wait_for(lock, std::chrono::milliseconds(kWait), [&] { return paused; })) {
                released = true;
                window.stopWorkers(true);
            }
        });
        thread.Pause();
        {
            std::lock_guard lock(m);
            paused = true;
        }
        cv.notify_all();
        watchdog.join();
        QVERIFY(!released);
        // Before it, the echo of the frame's bytes, posted as they came.
        QCOMPARE(std::count(handled.begin(), handled.end(), MsgModuleRegister), 1);
        QCOMPARE(handled.back(), MsgModuleRegister);
        // The port is the caller's now: the thread reads nothing until it is resumed.
        sim.inject({0x5A});
        QCOMPARE(port.WaitByte(1000), 0x5A);
        thread.Resume();
        thread.Stop();
    }

    void aWorkerWaitingToSendDoesNotHoldUpItsOwnStop() {
        QObject receiver;
        int handled = 0;
        QtMessageSink sink(&receiver, [&](const vindelor::protocol::Message&) { ++handled; });
        std::promise<void> sending;
        std::thread worker([&] {
            vindelor::protocol::Message m;
            m.number = vindelor::protocol::MsgSampleRow;
            sending.set_value();
            sink.send(m);
        });
        sending.get_future().wait();
        // The window thread now waits for the worker without handling events, as when it stops
        // the receive thread; the worker must come back.
        sink.stopWorkers(true);
        worker.join();
        sink.stopWorkers(false);
        QCoreApplication::processEvents();
        QCOMPARE(handled, 0);  // dropped, not handled late with a stale buffer
    }

    void anErrorEscapingAHandlerIsShownInAWarningBox_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("box");
        QTest::newRow("serial error with its detail line")
            << 0 << "warning|Error|Error opening port\n/dev/ttyUSB0: permission denied";
        QTest::newRow("firmware error") << 1 << "warning|Error|Error reading file";
        QTest::newRow("standard exception") << 2 << "warning|Error|out of range";
    }

    void anErrorEscapingAHandlerIsShownInAWarningBox() {
        QFETCH(int, kind);
        vindelor::testing::RecordingNotifier boxes;
        RunGuarded(boxes, [kind] {
            if (kind == 0)
                throw vindelor::serial::TSerErr(1, "Error opening port", "/dev/ttyUSB0: permission denied");
            if (kind == 1) throw vindelor::firmware::TErr(0, "Error reading file");
            throw std::out_of_range("out of range");
        });
        QCOMPARE(boxes.boxes.size(), std::size_t {1});
        QTEST(QString::fromStdString(boxes.boxes[0]), "box");
    }

    void settingsIntegersMustReadAsNumbers_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("reads");
        QTest::addColumn<int>("value");
        QTest::newRow("missing") << QVariant() << false << 0;
        QTest::newRow("number") << QVariant(19200) << true << 19200;
        QTest::newRow("negative") << QVariant(-3) << true << -3;
        QTest::newRow("text") << QVariant("abc") << false << 0;
        QTest::newRow("empty text") << QVariant("") << false << 0;
        QTest::newRow("too large for 32 bits") << QVariant(qint64(1) << 40) << false << 0;
    }

    void settingsIntegersMustReadAsNumbers() {
        QTemporaryDir dir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        QFETCH(QVariant, stored);
        if (stored.isValid()) {
            QSettings s("Kyvane", "Tambrel");
            s.setValue("ComPort", stored);
        }
        SettingsStore store;
        const auto v = store.readInteger("ComPort");
        QTEST(v.has_value(), "reads");
        if (v) QTEST(*v, "value");
        QCOMPARE(store.readText("FirmwareFile"), QString());  // missing text: empty, no failure
    }

    void windows1252TextsConvertBothWays_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("ASCII") << QByteArray("KP 1.5") << QStringLiteral("KP 1.5");
        QTest::newRow("euro sign and quotes differ from Latin-1")
            << QByteArray("\x80\x93\x94") << QString::fromUtf8("\u20AC\u201C\u201D");
        QTest::newRow("upper half as Latin-1") << QByteArray("\xE9\xFC") << QString::fromUtf8("\u00E9\u00FC");
    }

    void windows1252TextsConvertBothWays() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(FromCp1252(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))), text);
        QCOMPARE(ToCp1252(text), bytes.toStdString());
    }

    void everyByteSurvivesTheRoundTrip() {
        std::string all;
        for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
        QCOMPARE(ToCp1252(FromCp1252(all)), all);
        QCOMPARE(ToCp1252(QString::fromUtf8("\u4E2D")), std::string("?"));
    }
};

QTEST_MAIN(PartsTest)
#include "Parts_test.moc"
