// vindelor: the service window. One instance at a time; "--demo" runs it against a simulated
// motor in this process, so it can be tried without hardware.
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "app/BasicTab.h"
#include "app/Demo.h"
#include "app/FirmwarePanel.h"
#include "app/GuardedApplication.h"
#include "app/MessageBoxNotifier.h"
#include "app/SingleInstance.h"
#include "app/TdlgEnterValue.h"
#include "app/Winbinform.h"
#include "registers/Definitions.h"
#include "util/EndingSignals.h"
#include "util/Licence.h"

namespace {

using namespace vindelor::app;

constexpr const char* kUsage =
    "Usage: vindelor [--demo [--screenshot FILE]] [--self-test] [--help] [--version]\n"
    "\n"
    "The service window for the VX and KT servo motors and their expansion modules: read, write\n"
    "and sample registers over a serial port (COM1 to COM63; on Linux COMn is the link comN in\n"
    "$VINDELOR_PORT_DIR or ~/.config/Kyvane/ports, else /dev/ttyS0-31 for COM1-32 and\n"
    "/dev/ttyUSB0-30 for COM33-63). Register definition files are read from the current folder;\n"
    "when it holds none for the device type, from $XDG_DATA_HOME/vindelor/defs\n"
    "(~/.local/share/vindelor/defs), then from the folder installed with the program\n"
    "(/usr/share/vindelor/defs from the package). Only one instance runs at a time; a second\n"
    "start ends at once.\n"
    "\n"
    "  --demo        Start simulated devices inside the program, on pseudo-terminals: three\n"
    "                motors on one line as COM1 (VX20-95 at addresses 1 and 2, KT42 at 17),\n"
    "                a VXM-NC module as COM2. The window opens on the first motor with the\n"
    "                shipped definition files and settings of its own, every tab shown (yours\n"
    "                are not touched). Select a register and press R to read it, W to write\n"
    "                it, S to take a sample row; \"Scan bus...\" finds the three motors.\n"
    "  --screenshot FILE\n"
    "                With --demo: read the registers, take a few samples, save a picture of\n"
    "                the window as FILE (PNG) and quit.\n"
    "  --self-test   Start as usual, but print every message instead of showing a box, then the\n"
    "                folder the register definitions came from and the register list, and\n"
    "                quit. Exit status 0 when the definitions loaded. Settings are read and\n"
    "                written as on any start.\n"
    "  --help        Show this text.\n"
    "  --version     Show the version and the licence.\n";

constexpr int kSampleRequests = 3;
constexpr int kDemoStepMs = 400;
constexpr int kScreenshotDelayMs = 2500;

struct Options {
    bool demo = false;
    bool help = false;
    bool version = false;
    bool selfTest = false;
    std::optional<std::string> screenshot;
    std::string error;
};

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--demo") == 0) o.demo = true;
        else if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) o.help = true;
        else if (std::strcmp(a, "--version") == 0) o.version = true;
        else if (std::strcmp(a, "--self-test") == 0) o.selfTest = true;
        else if (std::strcmp(a, "--screenshot") == 0 && i + 1 < argc) o.screenshot = argv[++i];
        else o.error = std::string("unknown option ") + a;
    }
    if (o.error.empty() && o.screenshot && !o.demo) o.error = "--screenshot needs --demo";
    if (o.error.empty() && o.selfTest && o.demo) o.error = "--self-test starts without --demo";
    return o;
}

// The demo fills the list at once, so a newcomer sees the live values without a key press.
void StartDemo(TfrmMain& window, const Demo& demo, const std::optional<std::string>& screenshot) {
    std::printf("Three simulated motors on one line on %s, opened as COM%d: VX20-95 at addresses 1 and 2,\n"
                "KT42 at 17. Select a register and press R to read it, W to write it, S to take a sample\n"
                "row; \"Scan bus...\" finds the three.\n",
                demo.devicePath().toLocal8Bit().constData(), Demo::kPort);
    std::printf("Simulated VXM-NC module on %s, as COM%d: choose COM%d, then on the VXM-NC tab \"Start\n"
                "Poll\" shows its log, and \"Load firmware\" updates it from %s.\n",
                demo.modulePath().toLocal8Bit().constData(), Demo::kModulePort, Demo::kModulePort,
                demo.sampleImage().toLocal8Bit().constData());
    std::fflush(stdout);
    window.firmwarePanel->edFirmware->setText(demo.sampleImage());
    // 255 would reach all three motors at once; the window starts on the first.
    window.edAddress->setText(QString::number(Demo::firstAddress()));
    QTimer::singleShot(0, &window, [&window] {
        window.readAllRegisters();
        window.tsBasic->lbParams->setCurrentRow(0);
    });
    if (!screenshot) return;
    for (int k = 1; k <= kSampleRequests; ++k)
        QTimer::singleShot(k * kDemoStepMs, &window, [&window] { window.tsBasic->list.keyPress('S', -1); });
    QTimer::singleShot(kScreenshotDelayMs, &window, [&window, file = *screenshot] {
        const bool saved = window.grab().save(QString::fromLocal8Bit(file.c_str()), "PNG");
        if (!saved) std::fprintf(stderr, "vindelor: cannot save %s\n", file.c_str());
        QApplication::exit(saved ? 0 : 1);
    });
}

// The messages of a self-test go to stderr as "caption: text" lines; nothing waits for a click.
class PrintingNotifier : public vindelor::protocol::Notifier {
public:
    void warning(const std::string& caption, const std::string& text) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        if (text.rfind("Error loading", 0) == 0) loadFailed = true;
    }
    void information(const std::string& caption, const std::string& text) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
    bool loadFailed = false;
};

// What the started window loaded: where the definitions came from, and the register list as
// it shows it. The window has loaded them as it does on every start.
int ReportSelfTest(const TfrmMain& window, const PrintingNotifier& notifier) {
    const auto& list = window.tsBasic->list;
    std::printf("Register definitions for %s from %s: %d registers, %d bit fields\n",
                vindelor::registers::FilesOf(window.DeviceType).name,
                QDir(QString::fromLocal8Bit(list.loadedFrom.c_str())).absolutePath().toLocal8Bit().constData(),
                list.defs.registerCount, list.defs.bitFieldCount);
    for (int i = 0; i < window.tsBasic->lbParams->count(); ++i)
        std::printf("%s\n", window.tsBasic->lbParams->item(i)->text().toLocal8Bit().constData());
    std::fflush(stdout);
    return !notifier.loadFailed && list.defs.registerCount > 0 && window.tsBasic->lbParams->count() > 0 ? 0 : 1;
}

// Every signal that would end the program (Ctrl+C, a terminate request, the terminal that
// started it closing, ...) closes the window as "Exit" would: a running rotation is stopped,
// the settings are written and the demo's temporary folders go away. The handler only writes a
// byte to a socket; the window thread does the rest.
int gSignalSocket[2] = {-1, -1};

void OnSignal(int) {
    const char b = 1;
    [[maybe_unused]] const auto n = ::write(gSignalSocket[0], &b, 1);
}

void CloseOnSignals(QWidget& window) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, gSignalSocket) != 0) return;
    auto* notifier = new QSocketNotifier(gSignalSocket[1], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window, notifier] {
        char b = 0;
        [[maybe_unused]] const auto n = ::read(gSignalSocket[1], &b, 1);
        notifier->setEnabled(false);
        window.close();
    });
    for (int signal : vindelor::util::EndingSignals()) vindelor::util::CatchIfDefault(signal, OnSignal, SA_RESTART);
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("vindelor %s\n%s\n%s\n", VINDELOR_VERSION, vindelor::util::kCopyrightLine,
                    vindelor::util::kLicenceLines);
        return 0;
    }
    if (!options.error.empty()) {
        std::fprintf(stderr, "vindelor: %s\n\n%s", options.error.c_str(), kUsage);
        return 2;
    }

    // A second instance ends silently; the first is left as it is.
    SingleInstance instance;
    if (!instance.acquired()) {
        if (!options.selfTest) return 0;
        std::fputs("vindelor: another instance is running\n", stderr);
        return 1;
    }

    MessageBoxNotifier boxes;
    PrintingNotifier printed;
    vindelor::protocol::Notifier& notifier = options.selfTest ? static_cast<vindelor::protocol::Notifier&>(printed) : boxes;
    GuardedApplication app(argc, argv, notifier);
    QApplication::setApplicationDisplayName(QStringLiteral("Vindelor"));

    Demo demo;
    if (options.demo) {
        if (const std::string why = demo.start(); !why.empty()) {
            std::fprintf(stderr, "vindelor: %s\n", why.c_str());
            return 1;
        }
    }

    std::unique_ptr<TdlgEnterValue> dialog;
    TfrmMain window(notifier);
    dialog = std::make_unique<TdlgEnterValue>();
    window.dlgEnterValue = dialog.get();
    window.show();
    CloseOnSignals(window);
    if (options.demo) StartDemo(window, demo, options.screenshot);
    if (options.selfTest) QTimer::singleShot(0, &window, [&] { QApplication::exit(ReportSelfTest(window, printed)); });
    return QApplication::exec();
}
