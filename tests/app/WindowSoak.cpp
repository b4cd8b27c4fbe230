// The window's soak: the real window, made as the program makes it, on a simulated motor behind
// a misbehaving line for a long while (ten minutes by default). A user's hand alternates between
// the scope (Run for a while, then Stop) and the register list (R on a round of registers, the
// live values and the constant ones), as the scope holds the port while it runs. The simulator
// runs as its own process with line faults and pulls its adapter out every so often; the window
// must notice ("Port lost: ...") and take the port back ("Port back"), and the hand presses
// Run again once it can. Message boxes are recorded instead of shown, so none blocks the run.
//
// At the end the faults go off and the window must still answer: the event loop takes a posted
// call at once, a clean read of every register of the round answers, the scope takes rows, and
// no message box comes while the line behaves. Every value a constant register showed during
// the faults must be the one it shows on the clean line.
//
// The resident memory of the process (the window and its threads; the simulator is another
// process) is taken from /proc every few seconds; it may grow by at most --max-growth-mb between
// the end of the warm-up and the end of the run.
//
// Runs by hand through scripts/window-soak (under xvfb-run on the xcb platform); the exit
// status is 1 when a check fails, 2 when the run could not start.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QTimer>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/BasicTab.h"
#include "app/PortWatch.h"
#include "app/ScopeTab.h"
#include "app/TdlgEnterValue.h"
#include "app/Winbinform.h"
#include "support/RecordingNotifier.h"

namespace {

using namespace vindelor;
using Clock = std::chrono::steady_clock;

// The chaos run's mix of line faults: lost, flipped, cut, late and noisy replies.
constexpr const char* kDefaultFaults = "drop=0.005,flip=0.005,cut=0.03,delay=300@0.03,noise=0.03";
constexpr int kWatchMs = 50;  // how often the status line, the boxes and the loop are looked at
constexpr int kHandMs = 250;  // the pace of the user's hand: a key or a click at most this often
constexpr int kMemoryEveryMs = 5000;  // resident memory samples
constexpr int kProgressEverySeconds = 60;
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

struct Options {
    int seconds = 600;
    int warmupSeconds = 60;
    int pullEverySeconds = 120;
    int scopeSeconds = 20;
    int readSeconds = 6;
    int baud = 115200;
    double maxGrowthMb = 5;
    QString faults = QString::fromLatin1(kDefaultFaults);
    QString seed = QStringLiteral("1");
    QString sim;
    QString defs;
};

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

class Soak : public QObject {
  public:
    explicit Soak(const Options& options) : o_(options) {}
    ~Soak() override { stopSimulator(); }

    int run();

  private:
    struct MemorySample {
        double seconds;
        long kib;
    };

    bool startSimulator();
    void stopSimulator();
    void readSimulator();
    bool openWindow();
    double elapsed() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }
    bool portUsable() const { return window_->receiving() && !window_->portWatch->portLost(); }
    int lineOf(const char* name) const;
    QListWidgetItem* item(int line) const { return window_->tsBasic->lbParams->item(line); }

    void watch();
    void hand();
    void handScope();
    void handReads();
    void takeAnswers();
    void pressRead(int line);
    void sampleMemory();
    void progress();

    void finish();
    bool cleanReads();
    bool cleanScope();
    int report();

    Options o_;
    QTemporaryDir folder_;
    QProcess sim_;
    QByteArray simOut_;
    int plugs_ = 0;  // the ports the simulator made: the first and one after each pull
    int pullsAtEnd_ = 0;

    testing::RecordingNotifier boxes_;
    std::unique_ptr<app::TfrmMain> window_;
    std::unique_ptr<app::TdlgEnterValue> dialog_;

    Clock::time_point start_{};
    QTimer watch_;
    QTimer hand_;
    QTimer memory_;
    QElapsedTimer sinceWatch_;
    double longestGap_ = 0;
    int stalls_ = 0;

    // The status line.
    QString portName_;
    QString status_;
    QStringList lostTexts_;
    std::vector<double> lostAt_;
    std::vector<double> boxAt_;  // when each box came
    int backs_ = 0;
    int restored_ = 0;  // the window's own signal that the lost port runs again

    // The hand.
    enum class Phase { Scope, Reads };
    Phase phase_ = Phase::Scope;
    double phaseStart_ = 0;
    bool scopeWasRunning_ = false;
    bool scopeStopPressed_ = false;
    int scopeRuns_ = 0;
    int scopeStoppedByItself_ = 0;
    long long scopeRows_ = 0;
    std::vector<int> round_;  // lines of lbParams
    std::set<int> constantLines_;
    std::size_t next_ = 0;
    std::map<int, int> pending_;  // line -> reads out
    long long readsSent_ = 0;
    long long readsAnswered_ = 0;
    std::map<int, std::set<QString>> shown_;  // what each constant line showed

    std::vector<MemorySample> memorySamples_;
    double nextProgress_ = kProgressEverySeconds;
    std::size_t boxesDuringFaults_ = 0;
    std::size_t boxesWhenClean_ = 0;
    bool cleanReadsOk_ = false;
    QStringList cleanReadFailures_;
    QStringList wrongValues_;
    long long cleanRows_ = 0;
    double postedMs_ = -1;
    bool portBackAtEnd_ = false;
};

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
    start_ = Clock::now();
    sinceWatch_.start();
    watch_.setInterval(kWatchMs);
    connect(&watch_, &QTimer::timeout, this, [this] { watch(); });
    hand_.setInterval(kHandMs);
    connect(&hand_, &QTimer::timeout, this, [this] { hand(); });
    memory_.setInterval(kMemoryEveryMs);
    connect(&memory_, &QTimer::timeout, this, [this] {
        sampleMemory();
        if (elapsed() >= nextProgress_) {
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
        if (base < 0 && s.seconds >= o_.warmupSeconds) {
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
    const double step =
        std::max(kMemoryEveryMs / 1000.0, o_.seconds / 10.0) - kMemoryEveryMs / 2000.0;
    double nextAt = 0;
    for (std::size_t i = 0; i < memorySamples_.size(); ++i) {
        const auto& s = memorySamples_[i];
        if (s.seconds < nextAt && i + 1 < memorySamples_.size()) continue;
        std::printf(" %.0f s %.1f MB;", s.seconds, Mb(s.kib));
        nextAt = s.seconds + step;
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

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The window on a faulty simulated motor for a long while."));
    parser.addHelpOption();
    Options o;
    o.defs = QStringLiteral(VINDELOR_SOURCE_DIR "/defs");
    o.sim = QStringLiteral(VINDELOR_SIM);
    const QCommandLineOption sim(QStringLiteral("sim"),
                                 QStringLiteral("The simulator program (the one built with this)."),
                                 QStringLiteral("path"));
    const QCommandLineOption seconds(
        QStringLiteral("seconds"), QStringLiteral("Length of the run (600)."), QStringLiteral("s"));
    const QCommandLineOption warmup(
        QStringLiteral("warmup"),
        QStringLiteral("Seconds before the memory it holds is taken as the base (60)."),
        QStringLiteral("s"));
    const QCommandLineOption pull(
        QStringLiteral("pull-every"),
        QStringLiteral("Seconds between pulls of the port, 0 for none (120)."),
        QStringLiteral("s"));
    const QCommandLineOption scope(
        QStringLiteral("scope-seconds"),
        QStringLiteral("Seconds the scope runs before the hand reads registers (20)."),
        QStringLiteral("s"));
    const QCommandLineOption reads(
        QStringLiteral("read-seconds"),
        QStringLiteral("Seconds of register reads between scope runs (6)."), QStringLiteral("s"));
    const QCommandLineOption faults(
        QStringLiteral("faults"),
        QStringLiteral("The line's faults, as the simulator's --faults takes them."),
        QStringLiteral("text"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("Seed of the faults (1)."),
                                  QStringLiteral("n"));
    const QCommandLineOption baud(QStringLiteral("baud"), QStringLiteral("Line rate (115200)."),
                                  QStringLiteral("rate"));
    const QCommandLineOption growth(
        QStringLiteral("max-growth-mb"),
        QStringLiteral("Growth of the memory after the warm-up that fails the run (5)."),
        QStringLiteral("MB"));
    const QCommandLineOption defs(QStringLiteral("defs"),
                                  QStringLiteral("The register definition folder."),
                                  QStringLiteral("folder"));
    parser.addOptions({sim, seconds, warmup, pull, scope, reads, faults, seed, baud, growth, defs});
    parser.process(app);
    const auto number = [&](const QCommandLineOption& option, int& into) {
        if (!parser.isSet(option)) return true;
        bool ok = false;
        into = parser.value(option).toInt(&ok);
        return ok && into >= 0;
    };
    bool ok = number(seconds, o.seconds) && number(warmup, o.warmupSeconds) &&
              number(pull, o.pullEverySeconds) && number(scope, o.scopeSeconds) &&
              number(reads, o.readSeconds) && number(baud, o.baud);
    if (parser.isSet(growth)) o.maxGrowthMb = parser.value(growth).toDouble(&ok);
    if (parser.isSet(faults)) o.faults = parser.value(faults);
    if (parser.isSet(seed)) o.seed = parser.value(seed);
    if (parser.isSet(defs)) o.defs = parser.value(defs);
    if (parser.isSet(sim)) o.sim = parser.value(sim);
    if (!ok || o.sim.isEmpty() || o.scopeSeconds == 0 || o.readSeconds == 0) {
        std::fprintf(stderr, "window-soak: the numbers must be whole and not negative\n");
        return 2;
    }
    Soak soak(o);
    return soak.run();
}
