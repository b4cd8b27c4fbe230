#include "cli/SignalWatch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <vector>

#include "util/EndingSignals.h"

namespace vindelor::cli {

namespace {

// What a crash handler may wait for the last words to leave: a few frames' line time at the
// slowest rate, not long enough to hang a dying program on a stuck line.
constexpr int kLastWordsWaitMs = 200;
constexpr int kLastWordsCopies = 2;

// Everything a handler touches: lock-free atomics and a fixed buffer.
std::atomic<int> g_caught{0};
std::atomic<int> g_wakeFd{-1};
std::atomic<int> g_lastFd{-1};
std::atomic<std::size_t> g_lastCount{0};
std::array<std::uint8_t, SignalWatch::kMaxLastWords> g_lastWords{};
static_assert(std::atomic<int>::is_always_lock_free &&
              std::atomic<std::size_t>::is_always_lock_free);

struct Installed {
    int signal;
    struct sigaction previous;
};
// Touched only outside handlers.
std::vector<Installed> g_installed;
int g_pipe[2] = {-1, -1};
bool g_active = false;

void OnEndingSignal(int signal) {
    const int savedErrno = errno;
    int none = 0;
    g_caught.compare_exchange_strong(none, signal);
    if (const int fd = g_wakeFd.load(); fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t r = ::write(fd, &byte, 1);  // a full pipe wakes anyway
    }
    errno = savedErrno;
}

// Only calls a handler may make: write, poll, ioctl, nanosleep.
void WriteBounded(int fd, const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        pollfd pfd{fd, POLLOUT, 0};
        if (w < 0 && errno == EAGAIN && ::poll(&pfd, 1, kLastWordsWaitMs) > 0) continue;
        return;
    }
}

void WaitLineEmpty(int fd) {
    const timespec step{0, 1'000'000};
    for (int ms = 0; ms < kLastWordsWaitMs; ++ms) {
        int queued = 0;
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued == 0) return;
        ::nanosleep(&step, nullptr);
    }
}

void OnCrashSignal(int signal) {
    if (const int fd = g_lastFd.load(std::memory_order_acquire); fd >= 0) {
        const std::size_t n = g_lastCount.load(std::memory_order_acquire);
        for (int copy = 0; copy < kLastWordsCopies; ++copy) WriteBounded(fd, g_lastWords.data(), n);
        WaitLineEmpty(fd);
    }
    // The default action is back (SA_RESETHAND) and the signal not held (SA_NODEFER): the
    // program ends here as it would have without the handler.
    ::raise(signal);
}

}  // namespace

SignalWatch::SignalWatch() {
    if (g_active) throw std::logic_error("one signal watch at a time");
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("cannot watch for signals: no pipe");
    g_active = true;
    g_caught = 0;
    g_wakeFd = g_pipe[1];
    const auto install = [](int signal, void (*handler)(int), int flags) {
        struct sigaction previous {};
        if (util::CatchIfDefault(signal, handler, flags, &previous))
            g_installed.push_back({signal, previous});
    };
    // Interrupted writes go on (SA_RESTART): a frame is never cut short by a signal.
    for (int s : util::EndingSignals()) install(s, OnEndingSignal, SA_RESTART);
    for (int s : util::CrashSignals()) install(s, OnCrashSignal, SA_RESETHAND | SA_NODEFER);
}

SignalWatch::~SignalWatch() {
    for (auto it = g_installed.rbegin(); it != g_installed.rend(); ++it)
        ::sigaction(it->signal, &it->previous, nullptr);
    g_installed.clear();
    g_wakeFd = -1;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
    g_active = false;
}

int SignalWatch::caught() const {
    return g_caught.load();
}

bool SignalWatch::waitPipe(int timeoutMs) {
    pollfd pfd{g_pipe[0], POLLIN, 0};
    const int r = ::poll(&pfd, 1, timeoutMs);
    if (r <= 0) return false;  // the time passed, or a signal interrupted the wait
    char drain[64];
    while (::read(g_pipe[0], drain, sizeof drain) > 0) {
    }
    return true;
}

bool SignalWatch::waitUntil(Clock::time_point deadline) {
    for (;;) {
        if (caught()) return false;
        const auto now = Clock::now();
        if (now >= deadline) return true;
        // Rounded up, so the wait never ends early.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        if (waitPipe(static_cast<int>(std::min<long long>(left, INT32_MAX)))) return false;
    }
}

void SignalWatch::wait() {
    while (!caught())
        if (waitPipe(-1)) return;
}

void SignalWatch::wake() {
    if (const int fd = g_wakeFd.load(); fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t r = ::write(fd, &byte, 1);
    }
}

SignalWatch::LastWords::LastWords(int fd, std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kMaxLastWords) throw std::logic_error("last words too long");
    std::copy(bytes.begin(), bytes.end(), g_lastWords.begin());
    g_lastCount.store(bytes.size(), std::memory_order_release);
    g_lastFd.store(fd, std::memory_order_release);
}

SignalWatch::LastWords::~LastWords() {
    g_lastFd.store(-1, std::memory_order_release);
}

std::string SignalName(int signal) {
    struct Name {
        int signal;
        const char* name;
    };
    static constexpr Name kNames[] = {
        {SIGHUP, "SIGHUP"},   {SIGINT, "SIGINT"},   {SIGQUIT, "SIGQUIT"},     {SIGPIPE, "SIGPIPE"},
        {SIGALRM, "SIGALRM"}, {SIGTERM, "SIGTERM"}, {SIGUSR1, "SIGUSR1"},     {SIGUSR2, "SIGUSR2"},
        {SIGXCPU, "SIGXCPU"}, {SIGXFSZ, "SIGXFSZ"}, {SIGVTALRM, "SIGVTALRM"}, {SIGPROF, "SIGPROF"},
        {SIGIO, "SIGIO"},
    };
    for (const Name& n : kNames)
        if (n.signal == signal) return n.name;
    return "signal " + std::to_string(signal);
}

}  // namespace vindelor::cli
