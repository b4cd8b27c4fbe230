#include "util/EndingSignals.h"

namespace vindelor::util {

std::vector<int> EndingSignals() {
    std::vector<int> signals{SIGHUP,  SIGINT,  SIGQUIT, SIGPIPE,   SIGALRM, SIGTERM, SIGUSR1,
                             SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO};
#ifdef SIGPWR
    signals.push_back(SIGPWR);
#endif
#ifdef SIGSTKFLT
    signals.push_back(SIGSTKFLT);
#endif
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) signals.push_back(s);
    return signals;
}

std::vector<int> CrashSignals() {
    return {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS};
}

bool CatchIfDefault(int signal, void (*handler)(int), int flags, struct sigaction* previous) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) != 0) return false;
    if ((current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL) return false;
    struct sigaction sa {};
    sa.sa_handler = handler;
    sa.sa_flags = flags;
    sigfillset(&sa.sa_mask);
    if (::sigaction(signal, &sa, nullptr) != 0) return false;
    if (previous) *previous = current;
    return true;
}

}  // namespace vindelor::util
