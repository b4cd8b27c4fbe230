#pragma once

#include <signal.h>

#include <vector>

namespace vindelor::util {

// The signals whose default action ends the program and that a handler can return from: a
// program that moves a motor catches them all, so that it sends the stop before it ends. A
// terminal closing (SIGHUP), Ctrl+C and Ctrl+\, kill, a closed output (SIGPIPE), a timer, the
// user signals and the real-time ones; SIGQUIT included, for its core file is no reason to
// leave a motor turning.
std::vector<int> EndingSignals();

// The signals of a crash and of abort(): no handler can return from them.
std::vector<int> CrashSignals();

// Sets the handler for the signal if the signal still has its default action; a signal that
// is ignored (SIGHUP under nohup) or already has a handler (a profiler's, a sanitizer's) is
// left as it is. True when the handler was set; `previous` then holds what was there.
bool CatchIfDefault(int signal, void (*handler)(int), int flags,
                    struct sigaction* previous = nullptr);

}  // namespace vindelor::util
