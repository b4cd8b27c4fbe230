#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli/Cli.h"
#include "protocol/QueueSink.h"
#include "protocol/RecvThread.h"
#include "protocol/RegisterLink.h"
#include "protocol/Sender.h"
#include "serial/TSerCom.h"

namespace vindelor::cli {

// The sink of the command line: with --echo, the bytes sent and received go straight to stderr
// as "send:" and "recv:" lines in the order they happen; every other message is queued for the
// command to wait on.
class CliSink : public protocol::QueueSink {
public:
    explicit CliSink(bool echo) : echo_(echo) {}
    void post(int number, std::int64_t wParam, std::int64_t lParam) override;
    // One "<XX>" item of a byte sent.
    void echoSent(std::string_view item);
    // Ends the current echo line, if one is open.
    void endEchoLine();

private:
    void print(const char* prefix, std::string_view item);
    bool echo_;
    std::mutex printMutex_;
    const char* openLine_ = nullptr;
};

// An open port with its receive thread and sender, as the window has them.
class Session {
public:
    // Opens the port; throws CommandError (status 2) naming the device when it cannot.
    explicit Session(const GlobalOptions& options);
    ~Session();

    protocol::Sender& sender() { return sender_; }
    CliSink& sink() { return sink_; }
    int address() const { return options_.address; }
    serial::TSerCom& port() { return *port_; }
    // Paused by commands that talk to the port themselves, and resumed after them.
    protocol::RecvThread& receiveThread() { return *thread_; }
    // Ends the echo line, so what the command prints next starts on a line of its own.
    void flushSendEcho() { sink_.endEchoLine(); }
    // The receive thread ended on a port failure (a hang-up, an adapter pulled out).
    bool portLost() const { return thread_->Finished(); }
    // Says on stderr that the port is lost, waits until it opens again (a try about once a
    // second, no CPU spent meanwhile), restarts the receive thread and says "Port back".
    // False when cancelled() turned true first. (Reconnect.cpp)
    bool reconnect(const std::function<bool()>& cancelled);
    // One question through the receive thread that must get one answer: `send` sends it, and
    // the first queued message that `match` takes is its reply, taken only when the thread
    // heard nothing else from before the question until a reply's line time and a turnaround
    // after it. Otherwise (a second device at the address, a reply that came twice or late,
    // noise) the line is let go quiet and the question asked again, up to kAskAttempts times.
    // Nothing when no reply came at all (not asked again: silence is the device's answer),
    // or, with doubtful > 0, when every reply came with company.
    struct Asked {
        std::optional<protocol::ReceivedMessage> reply;
        int doubtful = 0;
    };
    static constexpr int kAskAttempts = 3;
    // How long the line must have been quiet before a question is asked again.
    static constexpr int kSettleQuietMs = 100;
    Asked askAlone(const std::function<void()>& send,
                   const std::function<bool(const protocol::ReceivedMessage&)>& match, int timeoutMs);
    // The value of a register read through askAlone; throws CommandError (status 1) naming
    // `name` when it never answers alone or not at all.
    std::uint32_t readRegisterAlone(int registerNumber, const std::string& name, int timeoutMs);

private:
    // The first queued message that `match` takes, within timeoutMs; nothing sooner when the
    // receive thread heard bytes since heardBefore, then none for two frame gaps, and made
    // no reply of them.
    std::optional<protocol::ReceivedMessage> takeReply(
        const std::function<bool(const protocol::ReceivedMessage&)>& match, int timeoutMs, std::uint64_t heardBefore);

    GlobalOptions options_;
    CliSink sink_;
    std::unique_ptr<serial::TSerCom> port_;
    protocol::Sender sender_;
    std::unique_ptr<protocol::RecvThread> thread_;
};

// The port lent by the session's receive thread for a command's whole exchange, with a register
// link over it whose bytes are echoed as the session echoes them.
class BorrowedPort {
public:
    explicit BorrowedPort(Session& s);
    ~BorrowedPort();
    BorrowedPort(const BorrowedPort&) = delete;
    BorrowedPort& operator=(const BorrowedPort&) = delete;

private:
    Session& session_;

public:
    protocol::RegisterLink link;
};

// "Port lost: /dev/ttyUSB0", the line a command without --reconnect ends with.
std::string LostPortText(Session& s);

// "COM7" or a device path, as --port takes it.
std::unique_ptr<serial::TSerCom> MakePort(const std::string& port, int baud);
// Opens the port or throws CommandError (status 2) naming the device.
void OpenOrThrow(serial::TSerCom& port);

// Decimal, or hexadecimal with 0x; negative numbers allowed. Throws CommandError (status 2).
long long ParseNumber(const std::string& text, const char* what);

}  // namespace vindelor::cli
