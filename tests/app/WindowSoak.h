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
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "support/RecordingNotifier.h"

class QListWidgetItem;

namespace vindelor::app {
class TdlgEnterValue;
class TfrmMain;
}  // namespace vindelor::app

namespace window_soak {

// The chaos run's mix of line faults: lost, flipped, cut, late and noisy replies.
constexpr const char* kDefaultFaults = "drop=0.005,flip=0.005,cut=0.03,delay=300@0.03,noise=0.03";

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

// One run: the simulator, the window, the hand and the watch; run() returns the exit status.
class Soak : public QObject {
  public:
    explicit Soak(const Options& options);
    ~Soak() override;

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
    double elapsed() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }
    // The window runs its receive thread on the port and does not count it lost.
    bool portUsable() const;
    int lineOf(const char* name) const;
    QListWidgetItem* item(int line) const;  // a line of the register list

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

    vindelor::testing::RecordingNotifier boxes_;
    std::unique_ptr<vindelor::app::TfrmMain> window_;
    std::unique_ptr<vindelor::app::TdlgEnterValue> dialog_;

    std::chrono::steady_clock::time_point start_{};
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
    double nextProgress_ = 0;
    std::size_t boxesDuringFaults_ = 0;
    std::size_t boxesWhenClean_ = 0;
    bool cleanReadsOk_ = false;
    QStringList cleanReadFailures_;
    QStringList wrongValues_;
    long long cleanRows_ = 0;
    double postedMs_ = -1;
    bool portBackAtEnd_ = false;
};

}  // namespace window_soak
