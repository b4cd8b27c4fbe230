// The scope tab, the traffic trace and the lost port in the window, against the simulated
// motor.
#include <QAction>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QImage>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QRegularExpression>

#include <atomic>
#include <cmath>
#include <fstream>
#include <sstream>

#include "WindowFixture.h"
#include "app/PortWatch.h"
#include "app/ScopePlot.h"
#include "app/ScopeSetup.h"
#include "app/ScopeTab.h"
#include "app/ScopeTicks.h"
#include "protocol/TraceFile.h"

using vindelor::app::ScopeSetup;
using vindelor::app::ScopeTab;
using vindelor::app::ScopeTicks;
using vindelor::registers::ScopeTrigger;
using vindelor::registers::TriggerEdge;

namespace {

// Whether every tick is a whole multiple of a step of 1, 2 or 5 times a power of ten, and its
// label is that number written plainly (no exponent, no "-0", no tail of digits).
QString Unround(const ScopeTicks& t) {
    const double mantissa = t.step / std::pow(10.0, std::floor(std::log10(t.step) + 1e-9));
    if (std::abs(mantissa - 1) > 1e-9 && std::abs(mantissa - 2) > 1e-9 &&
        std::abs(mantissa - 5) > 1e-9)
        return QStringLiteral("step %1").arg(t.step);
    if (t.values.size() != static_cast<std::size_t>(t.labels.size()))
        return QStringLiteral("labels");
    const int decimals = std::max(0, -static_cast<int>(std::floor(std::log10(t.step) + 1e-9)));
    for (qsizetype i = 0; i < t.labels.size(); ++i) {
        const QString& label = t.labels[i];
        const double k = t.values[static_cast<std::size_t>(i)] / t.step;
        if (std::abs(k - std::round(k)) > 1e-6) return QStringLiteral("tick %1").arg(label);
        if (label.contains(QLatin1Char('e')) || label == QStringLiteral("-0") ||
            (label.startsWith(QStringLiteral("-0.")) && label.toDouble() == 0))
            return QStringLiteral("label %1").arg(label);
        const qsizetype point = label.indexOf(QLatin1Char('.'));
        if ((point < 0 ? 0 : label.size() - point - 1) != decimals)
            return QStringLiteral("decimals of %1").arg(label);
        if (std::abs(label.toDouble() - t.values[static_cast<std::size_t>(i)]) > t.step * 1e-6)
            return QStringLiteral("value of %1").arg(label);
    }
    return {};
}

}  // namespace

class ScopeTest : public WindowFixture {
    Q_OBJECT

    ScopeTab& scope() { return *window_->tsScope; }

    // The velocity the simulated motor samples: what the test sets, from one moment to the next.
    std::shared_ptr<std::atomic<int>> velocity_ = std::make_shared<std::atomic<int>>(kLow);
    static constexpr int kLow = 900;
    static constexpr int kHigh = 1100;
    static constexpr double kLevel = 1000;
    static constexpr double kPre = 0.2;
    static constexpr int kWindowMs = 1000;

    TfrmMain& openOnScope() {
        TfrmMain& w = open();
        w.resize(TfrmMain::kWindowWidth, TfrmMain::kWindowHeight);
        w.PageControl1->setCurrentWidget(&scope());
        velocity_->store(kLow);
        auto v = velocity_;
        device_->setLive(numberOf("V_IST"), [v](vindelor::sim::Clock::time_point) {
            return static_cast<std::uint32_t>(static_cast<std::uint16_t>(v->load()));
        });
        return w;
    }

    // V_IST rising through 1000, 0.2 s before the trigger in a window of 1 s.
    static ScopeSetup TriggerOnVelocity(int mode) {
        ScopeSetup s;
        s.windowMs = kWindowMs;
        s.mode = mode;
        s.trigger.channel = 0;
        s.trigger.level = kLevel;
        s.trigger.edge = TriggerEdge::Rising;
        s.trigger.preSeconds = kPre;
        return s;
    }

    // The capture shown: low before time 0, high from it on, the pre-trigger time before it
    // and no more than the window's rest after it.
    void verifyStepCapture() {
        const auto rows = scope().shownRows();
        QVERIFY(rows.size() > 10);
        std::size_t zero = rows.size();
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (rows[i].seconds == 0) zero = i;
        QVERIFY(zero > 0 && zero < rows.size());
        QCOMPARE(rows[zero].values[0], double(kHigh));
        QCOMPARE(rows[zero - 1].values[0], double(kLow));
        constexpr double kRounding = 1e-9;
        // The whole pre-trigger time: from the last row at or before its start.
        QVERIFY(rows[0].seconds <= -kPre + kRounding && rows[1].seconds > -kPre);
        QVERIFY(rows.back().seconds <= kWindowMs / 1000.0 - kPre + kRounding);
    }
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

    void ticksAreRoundAcrossRanges_data() {
        QTest::addColumn<double>("lo");
        QTest::addColumn<double>("hi");
        QTest::newRow("a thousandth") << 0.0 << 0.001;
        QTest::newRow("around a thousandth") << 0.0001 << 0.0011;
        QTest::newRow("small across zero") << -0.003 << 0.004;
        QTest::newRow("zero from below") << -0.6 << 1.0;
        QTest::newRow("one") << 0.0 << 1.0;
        QTest::newRow("the swinging velocity") << 950.0 << 1050.0;
        QTest::newRow("negative") << -1050.0 << -950.0;
        QTest::newRow("a fixed-point value") << 38.00390625 << 41.99609375;
        QTest::newRow("a million") << 0.0 << 1e6;
        QTest::newRow("plus and minus a million") << -1e6 << 1e6;
        QTest::newRow("odd large") << 123456.0 << 987654.0;
        QTest::newRow("a million and one") << 1e6 << 1e6 + 1;
        QTest::newRow("flat") << 3.0 << 3.0;
        QTest::newRow("flat at zero") << 0.0 << 0.0;
        QTest::newRow("flat negative") << -5.0 << -5.0;
    }

    void ticksAreRoundAcrossRanges() {
        QFETCH(double, lo);
        QFETCH(double, hi);
        for (int divisions : {4, 7, 10}) {
            const ScopeTicks r = vindelor::app::RangeAround(lo, hi, divisions);
            QVERIFY2(Unround(r).isEmpty(),
                     qPrintable(Unround(r) + r.labels.join(QLatin1Char(' '))));
            // Exactly the divisions asked for, their ends ticks too, the values inside.
            QCOMPARE(r.values.size(), static_cast<std::size_t>(divisions + 1));
            QCOMPARE(r.values.front(), r.min);
            QCOMPARE(r.values.back(), r.max);
            QVERIFY(r.min <= lo && r.max >= hi);
            if (hi > lo) {  // never across zero for a channel that does not cross it
                QVERIFY(!(lo >= 0 && r.min < 0));
                QVERIFY(!(hi <= 0 && r.max > 0));
            }

            const ScopeTicks w = vindelor::app::TicksWithin(lo, hi == lo ? lo + 1 : hi, divisions);
            QVERIFY2(Unround(w).isEmpty(),
                     qPrintable(Unround(w) + w.labels.join(QLatin1Char(' '))));
            QVERIFY(w.values.size() >= 2 &&
                    w.values.size() <= static_cast<std::size_t>(divisions + 1));
            QVERIFY(w.values.front() >= w.min && w.values.front() - w.min < w.step);
            QVERIFY(w.values.back() <= w.max && w.max - w.values.back() < w.step);
        }
    }

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
            QVERIFY2(scope().plottedPoints(c) <= 2 * columns,
                     qPrintable(QString::number(scope().plottedPoints(c))));
        }
        QVERIFY(scope().lblScopeRate->text().startsWith(QStringLiteral("Rate: ")));
        QVERIFY(scope().lblScopeRate->text().endsWith(QStringLiteral(" rows/s")));
        QVERIFY(scope().readoutAt(rec.rows()[5].seconds).contains(QStringLiteral("V_IST ")));

        const QString csv = folder_->filePath(QStringLiteral("scope.csv"));
        QVERIFY(scope().exportCsv(csv));
        const QStringList lines = FileLines(csv);
        QCOMPARE(lines.first(), QStringLiteral("time_s,V_IST,TEMP,MODE,STATUS"));
        QCOMPARE(static_cast<std::size_t>(lines.size() - 1), rec.rows().size());
        QCOMPARE(lines.at(1).split(QLatin1Char(',')).first().toDouble(),
                 std::round(rec.rows()[0].seconds * 1e6) / 1e6);

        const QString png = folder_->filePath(QStringLiteral("scope.png"));
        QVERIFY(scope().saveImage(png));
        QVERIFY(!QImage(png).isNull());
        if (qEnvironmentVariableIsSet("VINDELOR_SCREENSHOT"))
            w.grab().save(qEnvironmentVariable("VINDELOR_SCREENSHOT"));
        QVERIFY(boxes_.boxes.empty());
    }

    void normalWaitsForItsTriggerAndShowsTheLastCapture() {
        openOnScope();
        scope().applySetup(TriggerOnVelocity(ScopeSetup::Normal));
        scope().run();
        // Long past the pre-trigger time: armed, but nothing has gone through the level.
        QTRY_VERIFY_WITH_TIMEOUT(scope().trigger()->state() == ScopeTrigger::State::Armed, kWait);
        QTest::qWait(300);
        QVERIFY(scope().running());
        QVERIFY(scope().showingCapture());
        QCOMPARE(scope().shownRows().size(), std::size_t(0));
        QCOMPARE(scope().lblScopeTrigger->text(), QStringLiteral("Waiting for the trigger"));

        velocity_->store(kHigh);
        QTRY_VERIFY_WITH_TIMEOUT(scope().trigger()->triggers() == 1 &&
                                     scope().trigger()->state() == ScopeTrigger::State::Armed,
                                 kWait);
        QVERIFY(scope().running());  // and waits for the next
        verifyStepCapture();
        QVERIFY(scope().recording().rows().empty());  // no row kept beyond the history

        // The next step replaces the capture.
        velocity_->store(kLow);
        QTest::qWait(50);
        velocity_->store(kHigh);
        QTRY_COMPARE_WITH_TIMEOUT(scope().trigger()->triggers(), std::uint64_t(2), kWait);
        scope().stop();
        verifyStepCapture();

        // The export holds the capture shown, its times from the trigger.
        const QString csv = folder_->filePath(QStringLiteral("capture.csv"));
        QVERIFY(scope().exportCsv(csv));
        const QStringList lines = FileLines(csv);
        QCOMPARE(lines.first(), QStringLiteral("time_s,V_IST,TEMP,MODE,STATUS"));
        QCOMPARE(static_cast<std::size_t>(lines.size() - 1), scope().shownRows().size());
        QVERIFY(lines.at(1).startsWith(QStringLiteral("-0.")));
        QVERIFY(lines.filter(QRegularExpression(QStringLiteral("^0\\.000000,1100,"))).size() == 1);
        QVERIFY(boxes_.boxes.empty());
    }

    void singleStopsAfterOneCaptureAndItsCursorsReadOut() {
        TfrmMain& w = openOnScope();
        scope().applySetup(TriggerOnVelocity(ScopeSetup::Single));
        scope().run();
        QTRY_VERIFY_WITH_TIMEOUT(scope().trigger()->state() == ScopeTrigger::State::Armed, kWait);
        velocity_->store(kHigh);
        QTRY_VERIFY_WITH_TIMEOUT(!scope().running(), kWait);
        QCOMPARE(scope().trigger()->triggers(), std::uint64_t(1));
        QVERIFY(scope().trigger()->state() == ScopeTrigger::State::Done);
        verifyStepCapture();
        QVERIFY(
            scope().lblScopeTrigger->text().startsWith(QStringLiteral("Stopped: triggered at ")));
        QVERIFY(scope().btnScopeRun->isEnabled());

        // Two cursors: their times, the four channels' values there and the differences.
        QVERIFY(scope().cursorsAvailable());
        scope().cbScopeCursors->setChecked(true);
        QVERIFY(scope().lblScopeReadout->isVisible());
        scope().setCursor(0, -0.1);
        scope().setCursor(1, 0);
        QCOMPARE(*scope().cursorTime(1), 0.0);
        const QStringList lines = scope().lblScopeReadout->text().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0].split(QLatin1Char(' '), Qt::SkipEmptyParts),
                 (QStringList{"t/s", "V_IST", "TEMP", "MODE", "STATUS"}));
        const QStringList a = lines[1].split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const QStringList b = lines[2].split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const QStringList d = lines[3].split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QCOMPARE(a.value(0), QStringLiteral("A"));
        QCOMPARE(a.value(2), QStringLiteral("900"));
        QCOMPARE(b.value(0), QStringLiteral("B"));
        QCOMPARE(b.value(1), QStringLiteral("0.000000"));
        QCOMPARE(b.value(2), QStringLiteral("1100"));
        QCOMPARE(d.value(0), QStringLiteral("\u0394"));
        QVERIFY(std::abs(d.value(1).toDouble() + *scope().cursorTime(0)) < 1e-6);
        QCOMPARE(d.value(2), QStringLiteral("200"));
        QCOMPARE(d.value(4), QStringLiteral("0"));  // MODE stayed

        // A cursor goes where it is dragged, to the row nearest the mouse.
        auto* view = scope().chScope->viewport();
        const int from =
            static_cast<int>(std::lround(scope().chScope->columnOf(*scope().cursorTime(0))));
        const int to = static_cast<int>(std::lround(scope().chScope->columnOf(0.3)));
        const int y = view->height() / 2;
        QTest::mousePress(view, Qt::LeftButton, {}, QPoint(from, y));
        QMouseEvent move(QEvent::MouseMove, QPointF(to, y), view->mapToGlobal(QPointF(to, y)),
                         Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(view, &move);
        QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(to, y));
        QVERIFY2(std::abs(*scope().cursorTime(0) - 0.3) < 0.01,
                 qPrintable(QString::number(*scope().cursorTime(0))));
        QVERIFY(
            !scope().chScope->chart()->isZoomed());  // the drag moved the cursor, it zoomed nothing

        const QString png = folder_->filePath(QStringLiteral("capture.png"));
        QVERIFY(scope().saveImage(png));
        QVERIFY(!QImage(png).isNull());
        QCoreApplication::processEvents();  // the layout takes the read-out in
        if (qEnvironmentVariableIsSet("VINDELOR_SCREENSHOT_TRIGGER"))
            w.grab().save(qEnvironmentVariable("VINDELOR_SCREENSHOT_TRIGGER"));
        QVERIFY(boxes_.boxes.empty());
    }

    void autoScrollsWhileNoTriggerComes() {
        openOnScope();
        scope().applySetup(TriggerOnVelocity(ScopeSetup::Auto));
        scope().run();
        QTRY_VERIFY_WITH_TIMEOUT(scope().shownRows().size() > 100, kWait);
        QVERIFY(!scope().showingCapture());
        QTRY_COMPARE_WITH_TIMEOUT(scope().lblScopeTrigger->text(),
                                  QStringLiteral("No trigger: scrolling"), kWait);
        QVERIFY(scope().plottedPoints(0) > 0);
        velocity_->store(kHigh);
        QTRY_VERIFY_WITH_TIMEOUT(scope().showingCapture(), kWait);
        scope().stop();
        QVERIFY(scope().recording().rows().empty());
    }

    void axesHaveRoundTicksAndAChannelCanHaveItsOwn() {
        openOnScope();
        device_->setLive(numberOf("V_IST"),
                         vindelor::sim::SwingingVelocity(vindelor::sim::Clock::now(), 0.5));
        scope().run();
        QTRY_VERIFY_WITH_TIMEOUT(scope().recording().rows().size() > 200, kWait);
        scope().stop();
        auto* plot = scope().chScope;
        QCOMPARE(plot->valueAxis(3), plot->valueAxis(0));
        scope().actScopeOwnAxis[3]->setChecked(true);
        QVERIFY(plot->valueAxis(3) != plot->valueAxis(0));
        QCOMPARE(plot->valueAxis(3)->alignment(), Qt::AlignRight);
        QCOMPARE(plot->valueAxis(3)->labelsColor(),
                 qobject_cast<QLineSeries*>(plot->chart()->series().at(3))->color());
        // Every axis: consecutive labels a round step apart, each a whole number of steps.
        for (QCategoryAxis* axis : {plot->timeAxis(), plot->valueAxis(0), plot->valueAxis(3)}) {
            const QStringList labels = axis->categoriesLabels();
            QVERIFY2(labels.size() >= 3, qPrintable(labels.join(QLatin1Char(' '))));
            ScopeTicks t;
            t.step = labels[1].toDouble() - labels[0].toDouble();
            t.step = vindelor::app::RoundStep(t.step * (1 - 1e-9));
            t.labels = labels;
            for (const QString& l : labels) t.values.push_back(l.toDouble());
            QVERIFY2(Unround(t).isEmpty(), qPrintable(Unround(t) + labels.join(QLatin1Char(' '))));
        }
        // The velocity swings 950 to 1050: on an axis of its own it is no longer flattened by
        // the others (the temperature near 40 and MODE and STATUS near 0).
        // Shared, its swing of 100 is a tenth of the axis at most; alone it fills a third at
        // least (the range is a whole number of round divisions, so it has some room).
        constexpr double kSwing = 100;
        QVERIFY(plot->valueAxis(0)->max() - plot->valueAxis(0)->min() >= 10 * kSwing);
        scope().actScopeOwnAxis[0]->setChecked(true);
        QVERIFY(plot->valueAxis(0)->max() - plot->valueAxis(0)->min() <= 3 * kSwing);
        QVERIFY(plot->valueAxis(0)->min() <= 950 && plot->valueAxis(0)->max() >= 1050);
    }

    void setupSurvivesARestart() {
        openOnScope();
        ScopeTab& s = scope();
        s.cbScopeWindow->setCurrentIndex(s.cbScopeWindow->findData(2000));
        emit s.cbScopeWindow->activated(s.cbScopeWindow->currentIndex());
        s.cbScopeTrigger->setCurrentIndex(ScopeSetup::Normal);
        emit s.cbScopeTrigger->activated(ScopeSetup::Normal);
        s.cbScopeTriggerChannel->setCurrentIndex(1);
        emit s.cbScopeTriggerChannel->activated(1);
        s.cbScopeTriggerEdge->setCurrentIndex(1);
        emit s.cbScopeTriggerEdge->activated(1);
        s.edScopeTriggerLevel->clear();
        QTest::keyClicks(s.edScopeTriggerLevel, QStringLiteral("39.5"));
        QTest::keyClick(s.edScopeTriggerLevel, Qt::Key_Return);
        // A level that does not read as a number goes back to the last one that did.
        s.edScopeTriggerLevel->clear();
        QTest::keyClicks(s.edScopeTriggerLevel, QStringLiteral("39,7"));
        QTest::keyClick(s.edScopeTriggerLevel, Qt::Key_Return);
        QCOMPARE(s.edScopeTriggerLevel->text(), QStringLiteral("39.5"));
        s.sbScopePre->setValue(0.5);
        s.actScopeOwnAxis[3]->setChecked(true);
        const ScopeSetup before = s.setup();
        QCOMPARE(before.windowMs, 2000);
        QCOMPARE(before.mode, int(ScopeSetup::Normal));
        QCOMPARE(before.trigger.channel, 1);
        QVERIFY(before.trigger.edge == TriggerEdge::Falling);
        QCOMPARE(before.trigger.level, 39.5);
        QCOMPARE(before.trigger.preSeconds, 0.5);
        QVERIFY((before.ownAxis == std::array<bool, 4>{false, false, false, true}));
        close();

        {
            QSettings stored(QStringLiteral("Kyvane"), QStringLiteral("Tambrel"));
            QCOMPARE(stored.value(QStringLiteral("Scope/WindowMs")).toInt(), 2000);
            QCOMPARE(stored.value(QStringLiteral("Scope/TriggerLevel")).toString(),
                     QStringLiteral("39.5"));
            QCOMPARE(stored.value(QStringLiteral("Scope/TriggerChannel")).toInt(), 2);
        }
        open();
        QVERIFY(scope().setup() == before);
        QVERIFY(scope().chScope->valueAxis(3) != scope().chScope->valueAxis(0));
        close();

        // A value that does not read keeps its own default; the others apply.
        storeSettings({{"Scope/TriggerMode", 7},
                       {"Scope/TriggerLevel", "abc"},
                       {"Scope/PreTriggerMs", 5000}});
        open();
        QCOMPARE(scope().setup().mode, int(ScopeSetup::Off));
        QCOMPARE(scope().setup().trigger.level, 0.0);
        QCOMPARE(scope().setup().trigger.preSeconds, 0.0);  // longer than the window
        QCOMPARE(scope().setup().windowMs, 2000);
        QCOMPARE(scope().setup().trigger.channel, 1);
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
        const QString reg = QStringLiteral("0x%1")
                                .arg(numberOf("KP"), 2, 16, QLatin1Char('0'))
                                .toUpper()
                                .replace(QStringLiteral("0X"), QStringLiteral("0x"));
        QVERIFY2(text.contains(QStringLiteral("TX  read request reg ") + reg +
                               QStringLiteral(" dest 255")),
                 qPrintable(text));
        QVERIFY2(
            text.contains(QStringLiteral("RX  register reply ") + reg + QStringLiteral(" = 4660")),
            qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("# port ")), qPrintable(text));
        QCOMPARE(w.meSend->toPlainText(),
                 Echo(vindelor::protocol::BuildReadRequest(255, numberOf("KP"))));
    }

    void lostPortIsShownSendersWaitAndItComesBack() {
        TfrmMain& w = open();
        QVERIFY(w.receiving());
        sim_->hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(
            watch().lblPortStatus->text().startsWith(QStringLiteral("Port lost: ")), kWait);
        QVERIFY(watch().lblPortStatus->text().endsWith(
            QStringLiteral(" \u2014 waiting for it to return")));
        QVERIFY(watch().lblPortStatus->text().contains(QStringLiteral("com1")));
        QVERIFY(!tab().btnReset->isEnabled());
        QVERIFY(!scope().btnScopeRun->isEnabled());
        QVERIFY(w.cbComPort->isEnabled());
        // Unplugged: the name leads nowhere (another test's new pseudo-terminal may get the
        // old number), and tries that find nothing change nothing.
        vindelor::sim::LinkPort(portDir().toStdString(), 1,
                                folder_->filePath(QStringLiteral("gone")).toStdString());
        QTest::qWait(1500);
        QVERIFY(watch().portLost());

        // The adapter is plugged in again: the same name, a new device behind it.
        sim_.reset();
        sim_ = std::make_unique<vindelor::sim::SimPort>(device_);
        vindelor::sim::LinkPort(portDir().toStdString(), 1, sim_->slavePath());
        QTRY_COMPARE_WITH_TIMEOUT(watch().lblPortStatus->text(), QStringLiteral("Port back"),
                                  kWait);
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
