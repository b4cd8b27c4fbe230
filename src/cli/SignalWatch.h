#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

namespace vindelor::cli {

// While one of these lives, every signal that would end the program by default is caught
// instead, so that a command can finish what it must first (the stop write of a turning
// motor): the handler only notes the signal and wakes the waits below through a pipe. A
// signal that was ignored or handled by someone else when the watch began (SIGHUP under nohup,
// a profiler's SIGPROF) is left as it was.
//
// A crash (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT of abort(), ...) cannot be returned from.
// For those a command can leave last words: bytes that the handler itself writes to a file
// descriptor before the program ends as it would have.
//
// One watch at a time in a process.
class SignalWatch {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kMaxLastWords = 64;

    SignalWatch();
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    // The first signal caught; 0 while none has come.
    int caught() const;
    // Blocks until the deadline, a signal or a wake(). True when the deadline came first;
    // never returns true before the deadline.
    bool waitUntil(Clock::time_point deadline);
    // Blocks until a signal or a wake().
    void wait();
    // Ends the current or the next wait. Safe from any thread.
    void wake();

    // Bytes for the crash handler, in force while the returned object lives. The descriptor
    // must stay open as long (the object goes before the port closes). The bytes go out
    // twice: a crash may cut a frame short, and the first copy may be spent on the receiver
    // finding its way back into step.
    class LastWords {
      public:
        LastWords(int fd, std::span<const std::uint8_t> bytes);
        ~LastWords();
        LastWords(const LastWords&) = delete;
        LastWords& operator=(const LastWords&) = delete;
    };

  private:
    // Waits up to timeoutMs (-1: no limit) for the pipe; true (and the pipe drained) when
    // something woke it.
    bool waitPipe(int timeoutMs);
};

// "SIGINT", "SIGPIPE", ... for messages; "signal N" for the rest.
std::string SignalName(int signal);

}  // namespace vindelor::cli
