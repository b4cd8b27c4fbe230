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
    // Waits for the value reply of a register; nothing after the time-out.
    std::optional<std::uint32_t> awaitRegister(int registerNumber, int timeoutMs);

private:
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
