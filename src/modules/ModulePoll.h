#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "serial/TSerCom.h"

namespace vindelor::modules {

// The expansion module's text poll (the "VXM-NC" tab): every 10 ms the module is asked for
// pending text, which it sends back as pairs. The exchange uses the port's buffered block
// transfers and owns the port while it runs, so the receive thread must be paused meanwhile.

// ' ' three times, destination 255 and its complement, the trailer. Not echoed.
inline constexpr std::array<std::uint8_t, 7> kPollRequest = {0x20, 0x20, 0x20, 0xFF, 0x00, 0xAA, 0xAA};
constexpr std::uint8_t kPollLetter = 0x20;
constexpr int kPollIntervalMs = 10;
// The log dump, in the current folder.
constexpr const char* kDumpFile = "CANDump.txt";

// A reply whose length or text byte does not match its complement: a byte was changed on the
// way. Its text is not shown, as a wrong text in the log would be taken for the module's.
class GarbledPollReply : public serial::TSerErr {
public:
    GarbledPollReply() : TSerErr(TSerErr::Io, "Garbled poll reply") {}
};

// One exchange: the request, then the reply read through the receive ring (the three letters,
// and the length and each text byte against its complement). Returns the text bytes up to the
// first zero byte (empty when the module had nothing). Throws GarbledPollReply for a pair
// that does not match, TSerErr when the port fails, a wait for bytes passes WaitTimeout, a
// letter is wrong, or `abandon` answers true to a wake-up of the port.
std::string PollExchange(serial::TSerCom& port, const std::function<bool()>& abandon = {});
// The bytes of a poll reply that carries `textBytes` text bytes.
constexpr int PollReplyBytes(int textBytes) { return 3 + 2 + 2 + 2 * textBytes + 2; }

// Runs the poll on a thread of its own, so a silent module never holds up the window: one
// exchange, then 10 ms, then the next. A failed exchange reopens the port without a word; when
// the port cannot be reopened the poller ends and reports why. A reply's text is shown only
// when the line stayed quiet a reply's line time and a turnaround after it (that wait is part
// of the pause before the next exchange) and nothing waited before its request.
class ModulePoller {
public:
    // Both are called on the poller's thread.
    using TextHook = std::function<void(const std::string& text)>;
    using FailureHook = std::function<void(const serial::TSerErr& reopenFailure)>;

    ModulePoller(serial::TSerCom& port, TextHook onText, FailureHook onFailure);
    ~ModulePoller();
    ModulePoller(const ModulePoller&) = delete;
    ModulePoller& operator=(const ModulePoller&) = delete;

    // Ends the loop: an exchange waiting for the module is cut short (its bytes are dropped)
    // and the thread has ended when this returns. Safe to call more than once.
    void Stop();
    // False once the poller has ended by itself or was stopped.
    bool Running() const { return running_; }
    int Exchanges() const { return exchanges_; }
    // Replies dropped as garbled; their text is lost.
    int Garbled() const { return garbled_; }
    // Replies dropped because more came with them (a second device answering the poll, a reply
    // sent twice): which text was the module's cannot be told, so neither is shown.
    int Doubled() const { return doubled_; }

private:
    void Run();
    bool StopRequested();

    serial::TSerCom& port_;
    TextHook onText_;
    FailureHook onFailure_;
    std::mutex mutex_;
    std::condition_variable stop_;
    bool stopRequested_ = false;
    std::atomic<bool> running_ {true};
    std::atomic<int> exchanges_ {0};
    std::atomic<int> garbled_ {0};
    std::atomic<int> doubled_ {0};
    std::thread thread_;
};

// Writes the log as lines ended by CR LF, replacing the file safely. Returns an empty string,
// or why the file could not be written.
std::string DumpLog(const std::string& path, std::string_view log);

}  // namespace vindelor::modules
