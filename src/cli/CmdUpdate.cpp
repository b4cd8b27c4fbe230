// vindelor-cli firmware FILE.vxf: a module firmware update through the module's bootloader.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <memory>
#include <string>

#include "cli/Cli.h"
#include "cli/Session.h"
#include "firmware/FirmwareImage.h"
#include "firmware/RecordLimits.h"
#include "firmware/TErr.h"
#include "firmware/Tvxload.h"
#include "protocol/QueueSink.h"

namespace vindelor::cli {

namespace {

using namespace vindelor::firmware;

constexpr int kBarWidth = 30;
constexpr auto kInterruptCheck = std::chrono::milliseconds(100);

std::atomic<bool> g_interrupted {false};
void OnInterrupt(int) { g_interrupted = true; }

// 8-bit text as UTF-8 for the terminal (the upper half as its Latin-1 letters).
std::string Utf8(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Ctrl+C asks the loader to stop; the handler is the default again afterwards.
class InterruptGuard {
public:
    InterruptGuard() {
        g_interrupted = false;
        struct sigaction sa {};
        sa.sa_handler = OnInterrupt;
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGINT, &sa, &old_);
    }
    ~InterruptGuard() { ::sigaction(SIGINT, &old_, nullptr); }

private:
    struct sigaction old_ {};
};

// The progress bar on stderr, drawn only when stderr is a terminal.
class ProgressBar {
public:
    ProgressBar() : on_(::isatty(STDERR_FILENO) == 1) {}
    void show(int percent) {
        if (!on_) return;
        const int filled = percent * kBarWidth / 100;
        std::cerr << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
                  << std::string(static_cast<std::size_t>(kBarWidth - filled), ' ') << "] " << percent << "%"
                  << std::flush;
        drawn_ = true;
    }
    void clear() {
        if (!on_ || !drawn_) return;
        std::cerr << "\r" << std::string(kBarWidth + 8, ' ') << "\r" << std::flush;
        drawn_ = false;
    }

private:
    bool on_;
    bool drawn_ = false;
};

}  // namespace

void FirmwareUpdateCommand(CommandContext& ctx, const std::string& file, double timeoutSeconds) {
    // The image is checked before anything is sent.
    {
        FirmwareImage image;
        try {
            image.ReadImage(file);
        } catch (const TErr& e) {
            throw CommandError {kExitDevice, Utf8("(Fejl 1) Fejl ved indl\xB5sning af firmware fil: ") + file +
                                                 " (" + e.Text + ")"};
        }
        if (const std::string problem = ImageFrameProblem(image); !problem.empty())
            throw CommandError {kExitDevice, file + ": " + problem};
    }

    auto port = MakePort(ctx.options.port, ctx.options.baud);
    OpenOrThrow(*port);
    protocol::QueueSink sink;
    ProgressBar bar;
    std::mutex printMutex;
    auto loader = std::make_unique<TVxLoad>(&sink, port.get());
    try {
        loader->ReadImage(file);
    } catch (const TErr& e) {
        throw CommandError {kExitDevice, Utf8("(Fejl 1) Fejl ved indl\xB5sning af firmware fil: ") + file +
                                             " (" + e.Text + ")"};
    }
    int failed = 0;
    std::string lastFailure;  // what the last failed attempt said, for the closing error
    loader->SetAttemptFailedHook([&](const std::string& text) {
        std::lock_guard lock(printMutex);
        bar.clear();
        std::cout << "Attempt " << ++failed << " failed: " << Utf8(text) << std::endl;
        lastFailure = "attempt " + std::to_string(failed) + ": " + Utf8(text);
    });

    InterruptGuard interrupt;
    loader->ResetWanted = true;
    loader->Start();

    std::string last;
    std::string step;  // the last status before the end, the step a failure stopped in
    int end = -1;
    bool terminating = false;
    const auto started = std::chrono::steady_clock::now();
    const auto limit = std::chrono::duration<double>(timeoutSeconds);
    bool timedOut = false;
    while (end < 0) {
        if (!terminating && timeoutSeconds > 0 && std::chrono::steady_clock::now() - started >= limit) {
            timedOut = true;
            terminating = true;
            loader->Terminate();
        }
        if (g_interrupted && !terminating) {
            terminating = true;
            loader->Terminate();
        }
        auto m = sink.take([](const protocol::ReceivedMessage& r) {
            return r.number == protocol::MsgLoaderState || r.number == protocol::MsgLoaderInfo;
        }, kInterruptCheck);
        if (!m) continue;
        std::lock_guard lock(printMutex);
        if (m->number == protocol::MsgLoaderInfo) {
            char version[16];
            std::snprintf(version, sizeof version, "0x%04X", static_cast<unsigned>(m->wParam & 0xFFFF));
            bar.clear();
            std::cout << "Bootloader version " << version << "; image: " << Utf8(m->text) << std::endl;
            continue;
        }
        const int code = static_cast<int>(m->wParam);
        const std::string text = LoaderStatusText(code, m->lParam);
        if (text != last) {
            bar.clear();
            std::cout << text << std::endl;
            last = text;
        }
        if (code != kStatusDone && code != kStatusFailed && code != kStatusAborted) step = text;
        if (LoaderStatusHasPercent(code)) bar.show(static_cast<int>(m->lParam));
        if (code == kStatusDone || code == kStatusFailed || code == kStatusAborted) end = code;
    }
    bar.clear();
    if (end != kStatusAborted) loader->WaitForRunEnd();
    loader.reset();
    if (timedOut && end == kStatusAborted) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", timeoutSeconds);
        throw CommandError {kExitDevice, std::string("No end of the update within ") + seconds + " s (--timeout)"};
    }
    // A failed update says on stderr where it stopped, as every other failing command does.
    if (end == kStatusFailed)
        throw CommandError {kExitDevice, "The update failed (" + (lastFailure.empty() ? step : lastFailure) + ")"};
    ctx.status = end == kStatusDone ? kExitOk : kExitDevice;
}

}  // namespace vindelor::cli
