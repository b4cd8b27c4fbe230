// The window's soak: see WindowSoak.h.
#include "WindowSoak.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTest>

#include <signal.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

#include "app/BasicTab.h"
#include "app/PortWatch.h"
#include "app/ScopeTab.h"
#include "app/TdlgEnterValue.h"
#include "app/Winbinform.h"

namespace window_soak {

using namespace vindelor;

namespace {

constexpr int kWatchMs = 50;  // how often the status line, the boxes and the loop are looked at
constexpr int kHandMs = 250;  // the pace of the user's hand: a key or a click at most this often
constexpr int kMemoryEveryMs = 5000;  // resident memory samples
constexpr int kProgressEverySeconds = 60;
// A timer's sample may come a little early: one due at a time counts from half its interval before.
constexpr double kSampleSlackSeconds = kMemoryEveryMs / 2000.0;
constexpr int kStartMs = 10000;  // the simulator's first port, the window's first exposure
constexpr int kBackMs = 10000;   // a pulled port is back (it returns after a second)
constexpr int kAnswerMs = 1000;  // a clean read, a posted call
constexpr int kCleanScopeMs = 3000;
constexpr double kStallSeconds = 2.0;  // a longer gap between two looks at the loop is a stall
// A box on the faulty line must come from a pull: a send in the moment between the hang-up and
// the status line's "Port lost" (which comes within PortWatch::kCheckMs).
constexpr double kBoxNearPullSeconds = 1.0;
constexpr double kKiB = 1024.0;

// The round of registers the hand reads: the constant ones must always show the device's value,
// the live ones change between reads.
const char* const kConstantRegisters[] = {"FIRMWARE", "MODE",   "STATUS",  "KP",
                                          "GEAR",     "SERIAL", "ADDRESS", "GROUP"};
const char* const kLiveRegisters[] = {"P_IST", "V_IST", "TEMP"};

long ResidentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

double Mb(long kib) {
    return static_cast<double>(kib) / kKiB;
}

// Runs the event loop until done() or the time is up; done() is asked every kWatchMs.
bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() >= ms) return false;
        QEventLoop loop;
        QTimer::singleShot(kWatchMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

Soak::Soak(const Options& options) : o_(options) {}

Soak::~Soak() {
    stopSimulator();
}

bool Soak::startSimulator() {
    const QString ports = folder_.filePath(QStringLiteral("ports"));
    QStringList args{
        QStringLiteral("--link"), QStringLiteral("1"),      QStringLiteral("--port-dir"), ports,
        QStringLiteral("--baud"), QString::number(o_.baud), QStringLiteral("--seed"),     o_.seed};
    QString faults = o_.faults;
    if (o_.pullEverySeconds > 0)
        faults += (faults.isEmpty() ? QString() : QStringLiteral(",")) +
                  QStringLiteral("unplug=%1").arg(o_.pullEverySeconds);
    if (!faults.isEmpty()) args << QStringLiteral("--faults") << faults;
    std::printf("simulator: %s %s\n", qPrintable(o_.sim), qPrintable(args.join(QLatin1Char(' '))));
    sim_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&sim_, &QProcess::readyReadStandardOutput, this, [this] { readSimulator(); });
    sim_.start(o_.sim, args);
    if (!sim_.waitForStarted(kStartMs)) return false;
    return WaitFor([&] { return plugs_ >= 1 && QFile::exists(ports + QStringLiteral("/com1")); },
                   kStartMs);
}

void Soak::readSimulator() {
    simOut_ += sim_.readAllStandardOutput();
    int end;
    while ((end = static_cast<int>(simOut_.indexOf('\n'))) >= 0) {
        const QByteArray line = simOut_.left(end);
        simOut_.remove(0, end + 1);
        // Each port the simulator makes is printed as its device path.
        if (line.startsWith("/dev/")) ++plugs_;
    }
}

void Soak::stopSimulator() {
    if (sim_.state() == QProcess::NotRunning) return;
    sim_.terminate();
    if (!sim_.waitForFinished(kStartMs)) sim_.kill();
    sim_.waitForFinished(kStartMs);
}

bool Soak::openWindow() {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       folder_.filePath(QStringLiteral("settings")));
    {
        QSettings s(QStringLiteral("Kyvane"), QStringLiteral("Tambrel"));
        s.setValue(QStringLiteral("Baudrate"), o_.baud);
    }
    window_ = std::make_unique<app::TfrmMain>(boxes_);
    dialog_ = std::make_unique<app::TdlgEnterValue>();
    window_->dlgEnterValue = dialog_.get();
    window_->resize(app::TfrmMain::kWindowWidth, app::TfrmMain::kWindowHeight);
    window_->show();
    if (!QTest::qWaitForWindowExposed(window_.get(), kStartMs)) return false;
    connect(window_.get(), &app::TfrmMain::portRestored, this, [this] { ++restored_; });
    portName_ = QString::fromStdString(window_->port()->ResolvedDevicePath());
    for (const char* name : kConstantRegisters) {
        const int line = lineOf(name);
        if (line < 0) continue;
        round_.push_back(line);
        constantLines_.insert(line);
    }
    for (const char* name : kLiveRegisters)
        if (const int line = lineOf(name); line >= 0) round_.push_back(line);
    return !round_.empty() && window_->receiving();
}

bool Soak::portUsable() const {
    return window_->receiving() && !window_->portWatch->portLost();
}

QListWidgetItem* Soak::item(int line) const {
    return window_->tsBasic->lbParams->item(line);
}

int Soak::lineOf(const char* name) const {
    const auto& defs = window_->tsBasic->list.defs;
    const int number = defs.findRegisterByName(name);
    return number < 0 ? -1 : defs.findRegisterIndex(number);
}

void Soak::watch() {
    const double gap = static_cast<double>(sinceWatch_.restart()) / 1000.0;
    longestGap_ = std::max(longestGap_, gap);
    if (gap > kStallSeconds) {
        ++stalls_;
        std::fprintf(stderr, "%6.0f s  the event loop stalled for %.1f s\n", elapsed(), gap);
    }
    while (boxAt_.size() < boxes_.boxes.size()) {
        boxAt_.push_back(elapsed());
        std::fprintf(stderr, "%6.0f s  box: %s\n", elapsed(),
                     boxes_.boxes[boxAt_.size() - 1].c_str());
    }
    const QString text = window_->portWatch->lblPortStatus->text();
    if (text != status_) {
        if (text.startsWith(QStringLiteral("Port lost: "))) {
            lostTexts_ << text;
            lostAt_.push_back(elapsed());
        }
        if (text == QStringLiteral("Port back")) ++backs_;
        if (!text.isEmpty())
            std::fprintf(stderr, "%6.0f s  status: %s\n", elapsed(), qPrintable(text));
        status_ = text;
    }
}

void Soak::hand() {
    takeAnswers();
    const bool running = window_->tsScope->running();
    if (scopeWasRunning_ && !running) {
        scopeRows_ += static_cast<long long>(window_->tsScope->recording().rows().size());
        if (!scopeStopPressed_) ++scopeStoppedByItself_;
    }
    scopeWasRunning_ = running;
    if (phase_ == Phase::Scope)
        handScope();
    else
        handReads();
}

void Soak::handScope() {
    app::ScopeTab& scope = *window_->tsScope;
    if (window_->PageControl1->currentWidget() != &scope)
        window_->PageControl1->setCurrentWidget(&scope);
    if (elapsed() - phaseStart_ >= o_.scopeSeconds) {
        if (scope.running()) {
            scopeStopPressed_ = true;
            QTest::mouseClick(scope.btnScopeStop, Qt::LeftButton);
            return;  // the rows are counted at the next look
        }
        phase_ = Phase::Reads;
        phaseStart_ = elapsed();
        return;
    }
    // After a lost port the scope has stopped; Run again as soon as the button can be pressed.
    // The hand goes by what the window shows, as a user does: an enabled button is pressed,
    // also in the moment between a hang-up and the status line's "Port lost".
    if (!scope.running() && scope.btnScopeRun->isEnabled()) {
        scopeStopPressed_ = false;
        QTest::mouseClick(scope.btnScopeRun, Qt::LeftButton);
        if (scope.running()) {
            ++scopeRuns_;
            scopeWasRunning_ = true;
        }
    }
}

void Soak::handReads() {
    app::BasicTab& tab = *window_->tsBasic;
    if (window_->PageControl1->currentWidget() != &tab)
        window_->PageControl1->setCurrentWidget(&tab);
    if (elapsed() - phaseStart_ >= o_.readSeconds) {
        phase_ = Phase::Scope;
        phaseStart_ = elapsed();
        return;
    }
    if (!tab.lbParams->isEnabled()) return;
    pressRead(round_[next_]);
    next_ = (next_ + 1) % round_.size();
}

// A read is out until its line shows a value again: the hand empties the line before it
// presses R, and the reply fills it.
void Soak::pressRead(int line) {
    app::BasicTab& tab = *window_->tsBasic;
    item(line)->setText(QString());
    tab.lbParams->setCurrentRow(line);
    QTest::keyClick(tab.lbParams, Qt::Key_R);
    ++pending_[line];
    ++readsSent_;
}

void Soak::takeAnswers() {
    for (auto it = pending_.begin(); it != pending_.end();) {
        const QString text = item(it->first)->text();
        if (text.isEmpty()) {
            ++it;
            continue;
        }
        // One answer for the line; earlier reads of it that got none stay unanswered.
        ++readsAnswered_;
        if (constantLines_.count(it->first)) shown_[it->first].insert(text);
        it = pending_.erase(it);
    }
}

void Soak::sampleMemory() {
    memorySamples_.push_back({elapsed(), ResidentKiB()});
}

void Soak::progress() {
    std::fprintf(
        stderr,
        "%6.0f s  rss %.1f MB; reads %lld of %lld answered; scope %d runs, %lld rows; "
        "port lost %d, back %d; boxes %zu\n",
        elapsed(), Mb(ResidentKiB()), readsAnswered_, readsSent_, scopeRuns_,
        scopeRows_ + (window_->tsScope->running()
                          ? static_cast<long long>(window_->tsScope->recording().rows().size())
                          : 0),
        static_cast<int>(lostTexts_.size()), backs_, boxes_.boxes.size());
}

int Soak::run() {
    if (!folder_.isValid()) return 2;
    qputenv("VINDELOR_PORT_DIR", QFile::encodeName(folder_.filePath(QStringLiteral("ports"))));
    if (!QDir::setCurrent(o_.defs)) {
        std::fprintf(stderr, "window-soak: no definition folder %s\n", qPrintable(o_.defs));
        return 2;
    }
    if (!startSimulator()) {
        std::fprintf(stderr, "window-soak: the simulator did not start\n");
        return 2;
    }
    if (!openWindow()) {
        std::fprintf(stderr, "window-soak: the window did not come up on the simulated port\n");
        return 2;
    }
    start_ = std::chrono::steady_clock::now();
    nextProgress_ = kProgressEverySeconds;
    sinceWatch_.start();
    watch_.setInterval(kWatchMs);
    connect(&watch_, &QTimer::timeout, this, [this] { watch(); });
    hand_.setInterval(kHandMs);
    connect(&hand_, &QTimer::timeout, this, [this] { hand(); });
    memory_.setInterval(kMemoryEveryMs);
    connect(&memory_, &QTimer::timeout, this, [this] {
        sampleMemory();
        if (elapsed() >= nextProgress_ - kSampleSlackSeconds) {
            progress();
            nextProgress_ += kProgressEverySeconds;
        }
    });
    sampleMemory();
    watch_.start();
    hand_.start();
    memory_.start();
    RunFor(o_.seconds * 1000);
    hand_.stop();
    memory_.stop();
    sampleMemory();
    finish();
    watch_.stop();
    const int status = report();
    window_->close();
    window_.reset();
    dialog_.reset();
    stopSimulator();
    return status;
}

void Soak::finish() {
    app::ScopeTab& scope = *window_->tsScope;
    if (scope.running()) {
        scopeStopPressed_ = true;
        QTest::mouseClick(scope.btnScopeStop, Qt::LeftButton);
    }
    if (scopeWasRunning_) {
        scopeRows_ += static_cast<long long>(scope.recording().rows().size());
        scopeWasRunning_ = false;
    }
    // The faults go off; a port pulled just before comes back a second later.
    ::kill(static_cast<pid_t>(sim_.processId()), SIGUSR2);
    RunFor(kAnswerMs + kAnswerMs / 2);
    portBackAtEnd_ = WaitFor([this] { return portUsable(); }, kBackMs);
    takeAnswers();
    pullsAtEnd_ = std::max(0, plugs_ - 1);
    boxesDuringFaults_ = boxes_.boxes.size();

    // A posted call is taken at once.
    {
        QEventLoop loop;
        QElapsedTimer posted;
        posted.start();
        bool answered = false;
        QMetaObject::invokeMethod(
            this,
            [&] {
                answered = true;
                loop.quit();
            },
            Qt::QueuedConnection);
        QTimer::singleShot(kAnswerMs, &loop, &QEventLoop::quit);
        loop.exec();
        if (answered) postedMs_ = static_cast<double>(posted.nsecsElapsed()) / 1e6;
    }

    if (portBackAtEnd_) {
        cleanReadsOk_ = cleanReads();
        cleanScope();
    }
    RunFor(kAnswerMs);
    boxesWhenClean_ = boxes_.boxes.size() - boxesDuringFaults_;
}

bool Soak::cleanReads() {
    app::BasicTab& tab = *window_->tsBasic;
    window_->PageControl1->setCurrentWidget(&tab);
    // Reads still out from the faulty line are over.
    pending_.clear();
    bool ok = true;
    for (const int line : round_) {
        item(line)->setText(QString());
        tab.lbParams->setCurrentRow(line);
        QTest::keyClick(tab.lbParams, Qt::Key_R);
        const QString name =
            QString::fromStdString(tab.list.defs.registerTable[static_cast<std::size_t>(line)].name)
                .trimmed();
        if (!WaitFor([&] { return !item(line)->text().isEmpty(); }, kAnswerMs)) {
            cleanReadFailures_ << name;
            ok = false;
            continue;
        }
        if (!constantLines_.count(line)) continue;
        const QString clean = item(line)->text();
        for (const QString& seen : shown_[line])
            if (seen != clean) wrongValues_ << QStringLiteral("%1 (clean: %2)").arg(seen, clean);
    }
    return ok;
}

bool Soak::cleanScope() {
    app::ScopeTab& scope = *window_->tsScope;
    window_->PageControl1->setCurrentWidget(&scope);
    if (!scope.btnScopeRun->isEnabled()) return false;
    QTest::mouseClick(scope.btnScopeRun, Qt::LeftButton);
    RunFor(kCleanScopeMs);
    if (scope.running()) QTest::mouseClick(scope.btnScopeStop, Qt::LeftButton);
    cleanRows_ = static_cast<long long>(scope.recording().rows().size());
    return cleanRows_ > 0;
}

int Soak::report() {
    QStringList failures;
    // Memory: the sample at the end of the warm-up against the last one.
    long base = -1;
    double baseAt = 0;
    long peak = 0;
    for (const auto& s : memorySamples_) {
        if (base < 0 && s.seconds >= o_.warmupSeconds - kSampleSlackSeconds) {
            base = s.kib;
            baseAt = s.seconds;
        }
        if (base >= 0) peak = std::max(peak, s.kib);
    }
    const long end = memorySamples_.empty() ? -1 : memorySamples_.back().kib;
    std::printf(
        "\nwindow soak: %d s on a faulty line (%s, seed %s), a pull every %d s, %d baud, "
        "the %s platform\n",
        o_.seconds, qPrintable(o_.faults), qPrintable(o_.seed), o_.pullEverySeconds, o_.baud,
        qPrintable(QGuiApplication::platformName()));
    std::printf("memory (VmRSS):");
    // About ten points over the run, and the last.
    const double step = std::max(kMemoryEveryMs / 1000.0, o_.seconds / 10.0) - kSampleSlackSeconds;
    double nextAt = 0;
    double printedAt = -1;
    for (std::size_t i = 0; i < memorySamples_.size(); ++i) {
        const auto& s = memorySamples_[i];
        const bool last = i + 1 == memorySamples_.size();
        if (s.seconds < nextAt && !(last && s.seconds - printedAt > kSampleSlackSeconds)) continue;
        std::printf(" %.0f s %.1f MB;", s.seconds, Mb(s.kib));
        nextAt = s.seconds + step;
        printedAt = s.seconds;
    }
    std::printf("\n");
    if (base < 0 || end < 0) {
        failures << QStringLiteral("no memory sample after the warm-up");
    } else {
        const double growth = Mb(end - base);
        std::printf(
            "memory after the warm-up: %.1f MB at %.0f s, %.1f MB at the end (%+.1f MB), peak %.1f "
            "MB\n",
            Mb(base), baseAt, Mb(end), growth, Mb(peak));
        if (growth > o_.maxGrowthMb)
            failures << QStringLiteral("the memory grew by %1 MB after the warm-up")
                            .arg(growth, 0, 'f', 1);
    }
    std::printf(
        "event loop: longest gap %.2f s, %d stalls over %.1f s; a posted call answered in %s\n",
        longestGap_, stalls_, kStallSeconds,
        postedMs_ < 0 ? "no time (it did not)"
                      : qPrintable(QStringLiteral("%1 ms").arg(postedMs_, 0, 'f', 1)));
    if (postedMs_ < 0)
        failures << QStringLiteral("the window did not answer a posted call within 1 s");
    if (stalls_ > 0) failures << QStringLiteral("the event loop stalled %1 times").arg(stalls_);
    std::printf("register reads: %lld sent, %lld answered (%.1f %%)\n", readsSent_, readsAnswered_,
                readsSent_
                    ? 100.0 * static_cast<double>(readsAnswered_) / static_cast<double>(readsSent_)
                    : 0.0);
    std::printf("scope: %d runs, %lld rows, %d stopped by a lost port\n", scopeRuns_, scopeRows_,
                scopeStoppedByItself_);
    std::printf(
        "port: %d pulls; the status line said \"Port lost\" %d times and \"Port back\" %d times; "
        "the port ran again %d times\n",
        pullsAtEnd_, static_cast<int>(lostTexts_.size()), backs_, restored_);
    std::map<QString, int> lostKinds;
    for (const QString& t : lostTexts_) ++lostKinds[t];
    for (const auto& [text, count] : lostKinds) std::printf("  %dx %s\n", count, qPrintable(text));
    if (lostTexts_.size() != pullsAtEnd_ || backs_ != pullsAtEnd_ || restored_ != pullsAtEnd_)
        failures << QStringLiteral("%1 pulls, but %2 lost, %3 back, %4 restarts")
                        .arg(pullsAtEnd_)
                        .arg(lostTexts_.size())
                        .arg(backs_)
                        .arg(restored_);
    for (const QString& t : lostTexts_)
        if (!t.contains(portName_))
            failures << QStringLiteral("a lost port that does not name its port: ") + t;
    if (o_.pullEverySeconds > 0 && o_.seconds > o_.pullEverySeconds && pullsAtEnd_ == 0)
        failures << QStringLiteral("the port was never pulled");
    std::printf("message boxes: %zu while the line misbehaved, %zu on the clean line\n",
                boxesDuringFaults_, boxesWhenClean_);
    std::map<std::string, int> kinds;
    for (const auto& b : boxes_.boxes) ++kinds[b];
    for (const auto& [box, count] : kinds) std::printf("  %dx %s\n", count, box.c_str());
    for (const auto& b : boxes_.boxes)
        if (b.substr(b.rfind('|') + 1).empty())
            failures << QStringLiteral("a box that does not say what failed: ") +
                            QString::fromStdString(b);
    for (std::size_t i = 0; i < boxesDuringFaults_ && i < boxAt_.size(); ++i) {
        const bool nearPull = std::any_of(lostAt_.begin(), lostAt_.end(), [&](double lost) {
            return std::abs(lost - boxAt_[i]) <= kBoxNearPullSeconds;
        });
        if (!nearPull)
            failures << QStringLiteral("a box at %1 s with no pull of the port near it: %2")
                            .arg(boxAt_[i], 0, 'f', 1)
                            .arg(QString::fromStdString(boxes_.boxes[i]));
    }
    if (boxesWhenClean_ > 0)
        failures << QStringLiteral("%1 boxes on the clean line").arg(boxesWhenClean_);
    if (!portBackAtEnd_)
        failures << QStringLiteral("the port was not back after the faults went off");
    std::printf("clean line: every read answered: %s; scope rows in %d s: %lld\n",
                cleanReadsOk_ ? "yes" : "no", kCleanScopeMs / 1000, cleanRows_);
    if (!cleanReadsOk_)
        failures << QStringLiteral("clean reads unanswered: ") +
                        cleanReadFailures_.join(QStringLiteral(", "));
    if (portBackAtEnd_ && cleanRows_ == 0)
        failures << QStringLiteral("the scope took no row on the clean line");
    for (const QString& w : wrongValues_)
        failures << QStringLiteral("a constant register showed ") + w;
    if (readsAnswered_ == 0) failures << QStringLiteral("no read was answered");
    if (scopeRows_ == 0) failures << QStringLiteral("the scope took no row");

    if (failures.isEmpty()) {
        std::printf("result: the window held its memory and answered\n");
        return 0;
    }
    for (const QString& f : failures) std::printf("FAILED: %s\n", qPrintable(f));
    return 1;
}

}  // namespace window_soak
