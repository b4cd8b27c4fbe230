// CPU of the window while its scope runs against the simulated motor, paced at 115200 and
// 19200 baud: the window made as the program makes it, on the offscreen platform (which paints
// into memory as a screen would), the scope tab shown and running for ten seconds.
//
//   build/bench/bench/scope_window_bench
//   QT_QPA_PLATFORM=xcb xvfb-run -a build/bench/bench/scope_window_bench   (through an X server)
//
// Counters: cpu_pct, CPU time of the process without the simulator's thread, in percent of one
// core (the window thread, the receive thread and Qt's own); rows_per_s, the sample rows the
// scope took.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <set>
#include <string>

#include "app/ScopeTab.h"
#include "app/TdlgEnterValue.h"
#include "app/Winbinform.h"
#include "registers/Definitions.h"
#include "sim/DeviceSetup.h"
#include "sim/Pty.h"
#include "sim/RegisterDevice.h"
#include "sim/SimPort.h"
#include "support/CpuTime.h"
#include "support/RecordingNotifier.h"

namespace {

using namespace vindelor;

// Runs the event loop as the program does for a while. (QTest::qWait would sleep 10 ms between
// rounds of events and hold every reply that long.)
void RunEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// CPU of every thread but the excluded ones.
double CpuSecondsWithout(const std::set<int>& excluded) {
    double sum = 0;
    for (int tid : bench::ThreadIds())
        if (!excluded.count(tid)) sum += bench::ThreadCpuSeconds(tid);
    return sum;
}

void BM_ScopeWindowCpu(benchmark::State& state) {
    const int baud = static_cast<int>(state.range(0));
    constexpr int kSeconds = 10;
    QTemporaryDir folder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.filePath(QStringLiteral("settings")));
    {
        QSettings s(QStringLiteral("Kyvane"), QStringLiteral("Tambrel"));
        s.setValue(QStringLiteral("Baudrate"), baud);
    }
    const QString ports = folder.filePath(QStringLiteral("ports"));
    qputenv("VINDELOR_PORT_DIR", QFile::encodeName(ports));
    QDir::setCurrent(QStringLiteral(VINDELOR_SOURCE_DIR "/defs"));

    auto device = std::make_shared<sim::RegisterDevice>();
    if (!sim::ConfigureAsMotor(*device, registers::VX20_95, sim::DefaultDefinitionsFolder()).empty()) {
        state.SkipWithError("no definitions for the simulated motor");
        return;
    }
    const auto before = bench::ThreadIds();
    sim::SimPort sim(device);
    sim.setBaudRate(baud);
    sim.setPaceInput(true);
    std::set<int> simThreads;
    for (int tid : bench::ThreadIds())
        if (!before.count(tid)) simThreads.insert(tid);
    sim::LinkPort(ports.toStdString(), 1, sim.slavePath());

    testing::RecordingNotifier boxes;
    app::TfrmMain window(boxes);
    app::TdlgEnterValue dialog;
    window.dlgEnterValue = &dialog;
    window.resize(app::TfrmMain::kWindowWidth, app::TfrmMain::kWindowHeight);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        state.SkipWithError("window not shown");
        return;
    }
    window.PageControl1->setCurrentWidget(window.tsScope);
    window.tsScope->run();
    RunEventLoop(1000);  // the run settles, the plot fills

    for (auto _ : state) {
        const std::size_t rows0 = window.tsScope->recording().rows().size();
        const double cpu0 = CpuSecondsWithout(simThreads);
        QElapsedTimer clock;
        clock.start();
        RunEventLoop(kSeconds * 1000);
        const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        const double cpu = CpuSecondsWithout(simThreads) - cpu0;
        state.counters["cpu_pct"] = 100.0 * cpu / seconds;
        state.counters["rows_per_s"] =
            static_cast<double>(window.tsScope->recording().rows().size() - rows0) / seconds;
    }
    window.tsScope->stop();
    if (!boxes.boxes.empty()) state.SkipWithError(boxes.boxes.front().c_str());
}
BENCHMARK(BM_ScopeWindowCpu)->Arg(115200)->Arg(19200)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
