// The scope tab, the traffic trace and the lost port in the window, against the simulated
// motor.
#include <QDir>
#include <QImage>
#include <QLegend>
#include <QLegendMarker>
#include <QChartView>

#include <fstream>
#include <sstream>

#include "WindowFixture.h"
#include "app/PortWatch.h"
#include "app/ScopeTab.h"
#include "protocol/TraceFile.h"

using vindelor::app::ScopeTab;

class ScopeTest : public WindowFixture {
    Q_OBJECT

    ScopeTab& scope() { return *window_->tsScope; }
    vindelor::app::PortWatch& watch() { return *window_->portWatch; }

    static QStringList FileLines(const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return {};
        return QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private slots:
    void init() {
        setUpWindowTest();
        enterDefinitionFolder();
    }
    void cleanup() { tearDownWindowTest(); }

    void scopeTabComesAfterTheOthersAndIsVisibleInEveryMode() {
        TfrmMain& w = open();
        QCOMPARE(w.PageControl1->indexOf(&scope()), w.PageControl1->count() - 1);
        QVERIFY(w.PageControl1->isTabVisible(w.PageControl1->indexOf(&scope())));
        QCOMPARE(w.PageControl1->tabText(w.PageControl1->count() - 1), QStringLiteral("Scope"));
    }

    void theReplyToTheLastRequestBelongsToTheRunAfterStop() {
        TfrmMain& w = open();
        w.PageControl1->setCurrentWidget(&scope());
        const int tableRows = tab().lvSample->topLevelItemCount();
        // Stop while the first sample request is out (no event is handled in between): its
        // reply still comes, and is the run's.
        scope().run();
        scope().stop();
        QVERIFY(!scope().running());
        QTRY_COMPARE_WITH_TIMEOUT(scope().recording().rows().size(), std::size_t(1), kWait);
        QTest::qWait(2 * vindelor::registers::SampleLoop::kReplyTimeoutMs);
        QCOMPARE(scope().recording().rows().size(), std::size_t(1));
        QCOMPARE(tab().lvSample->topLevelItemCount(), tableRows);
        // A sample taken on the register tab afterwards is the table's again.
        tab().list.keyPress('S', -1);
        QTRY_COMPARE_WITH_TIMEOUT(tab().lvSample->topLevelItemCount(), tableRows + 1, kWait);
        QCOMPARE(scope().recording().rows().size(), std::size_t(1));
    }

    void runPlotsTheSelectedChannelsAndTheExportHoldsEveryRow() {
        TfrmMain& w = open();
        w.resize(TfrmMain::kWindowWidth, TfrmMain::kWindowHeight);
        w.PageControl1->setCurrentWidget(&scope());
        const int tableRows = tab().lvSample->topLevelItemCount();
        QTest::mouseClick(scope().btnScopeRun, Qt::LeftButton);
        QVERIFY(scope().running());
        // Senders elsewhere wait while the scope owns the port; its Stop does not.
        QVERIFY(!tab().btnReset->isEnabled());
        QVERIFY(scope().btnScopeStop->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(scope().recording().rows().size() >= 1500, 30000);
        QTest::mouseClick(scope().btnScopeStop, Qt::LeftButton);
        QVERIFY(!scope().running());
        QVERIFY(tab().btnReset->isEnabled());
        QCOMPARE(tab().lvSample->topLevelItemCount(), tableRows);  // the rows were the scope's

        const auto& rec = scope().recording();
        QCOMPARE(QString::fromStdString(rec.channels[0].name), QStringLiteral("V_IST"));
        QCOMPARE(QString::fromStdString(rec.channels[3].name), QStringLiteral("STATUS"));
        auto* chart = scope().chScope->chart();
        QCOMPARE(chart->series().at(0)->name(), QStringLiteral("V_IST"));
        QCOMPARE(chart->series().at(1)->name(), QStringLiteral("TEMP"));
        // Thousands of rows, at most two points per pixel column drawn.
        const int columns = static_cast<int>(chart->plotArea().width());
        for (int c = 0; c < 4; ++c) {
            QVERIFY(scope().plottedPoints(c) > 0);
            QVERIFY2(scope().plottedPoints(c) <= 2 * columns, qPrintable(QString::number(scope().plottedPoints(c))));
        }
        QVERIFY(scope().lblScopeRate->text().startsWith(QStringLiteral("Rate: ")));
        QVERIFY(scope().lblScopeRate->text().endsWith(QStringLiteral(" rows/s")));
        QVERIFY(scope().readoutAt(rec.rows()[5].seconds).contains(QStringLiteral("V_IST ")));

        const QString csv = folder_->filePath(QStringLiteral("scope.csv"));
        QVERIFY(scope().exportCsv(csv));
        const QStringList lines = FileLines(csv);
        QCOMPARE(lines.first(), QStringLiteral("time_s,V_IST,TEMP,MODE,STATUS"));
        QCOMPARE(static_cast<std::size_t>(lines.size() - 1), rec.rows().size());
        QCOMPARE(lines.at(1).split(QLatin1Char(',')).first().toDouble(), std::round(rec.rows()[0].seconds * 1e6) / 1e6);

        const QString png = folder_->filePath(QStringLiteral("scope.png"));
        QVERIFY(scope().saveImage(png));
        QVERIFY(!QImage(png).isNull());
        if (qEnvironmentVariableIsSet("VINDELOR_SCREENSHOT")) w.grab().save(qEnvironmentVariable("VINDELOR_SCREENSHOT"));
        QVERIFY(boxes_.boxes.empty());
    }

    void traceWrittenByTheWindowShowsTheReadAndPrints() {
        TfrmMain& w = open();
        device_->setValue(numberOf("KP"), 0x1234);
        const QString path = folder_->filePath(QStringLiteral("window.trace"));
        QVERIFY(watch().startTrace(path));
        QVERIFY(watch().cbTrace->isChecked());
        select("KP");
        QTest::keyClick(tab().lbParams, 'R');
        QTRY_VERIFY_WITH_TIMEOUT(line("KP").contains(QStringLiteral("1.1376953")), kWait);
        watch().stopTrace();
        QVERIFY(!watch().cbTrace->isChecked());

        std::ifstream in(path.toStdString());
        std::ostringstream printed;
        std::string error;
        QVERIFY2(vindelor::protocol::PrintTrace(in, printed, error), error.c_str());
        const QString text = QString::fromStdString(printed.str());
        const QString reg = QStringLiteral("0x%1").arg(numberOf("KP"), 2, 16, QLatin1Char('0')).toUpper().replace(QStringLiteral("0X"), QStringLiteral("0x"));
        QVERIFY2(text.contains(QStringLiteral("TX  read request reg ") + reg + QStringLiteral(" dest 255")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("RX  register reply ") + reg + QStringLiteral(" = 4660")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("# port ")), qPrintable(text));
        QCOMPARE(w.meSend->toPlainText(), Echo(vindelor::protocol::BuildReadRequest(255, numberOf("KP"))));
    }

    void lostPortIsShownSendersWaitAndItComesBack() {
        TfrmMain& w = open();
        QVERIFY(w.receiving());
        sim_->hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(watch().lblPortStatus->text().startsWith(QStringLiteral("Port lost: ")), kWait);
        QVERIFY(watch().lblPortStatus->text().endsWith(QStringLiteral(" \u2014 waiting for it to return")));
        QVERIFY(watch().lblPortStatus->text().contains(QStringLiteral("com1")));
        QVERIFY(!tab().btnReset->isEnabled());
        QVERIFY(!scope().btnScopeRun->isEnabled());
        QVERIFY(w.cbComPort->isEnabled());
        // Unplugged: the name leads nowhere (another test's new pseudo-terminal may get the
        // old number), and tries that find nothing change nothing.
        vindelor::sim::LinkPort(portDir().toStdString(), 1, folder_->filePath(QStringLiteral("gone")).toStdString());
        QTest::qWait(1500);
        QVERIFY(watch().portLost());

        // The adapter is plugged in again: the same name, a new device behind it.
        sim_.reset();
        sim_ = std::make_unique<vindelor::sim::SimPort>(device_);
        vindelor::sim::LinkPort(portDir().toStdString(), 1, sim_->slavePath());
        QTRY_COMPARE_WITH_TIMEOUT(watch().lblPortStatus->text(), QStringLiteral("Port back"), kWait);
        QVERIFY(tab().btnReset->isEnabled());
        QVERIFY(w.receiving());
        device_->setValue(numberOf("KP"), 0x1800);
        select("KP");
        QTest::keyClick(tab().lbParams, 'R');
        QTRY_VERIFY_WITH_TIMEOUT(line("KP").contains(QStringLiteral("1.5000000")), kWait);
        QVERIFY(boxes_.boxes.empty());
    }
};

QTEST_MAIN(ScopeTest)
#include "Scope_test.moc"
