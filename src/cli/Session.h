#pragma once

#include <memory>
#include <optional>
#include <string>

#include "cli/Cli.h"
#include "protocol/QueueSink.h"
#include "protocol/RecvThread.h"
#include "protocol/Sender.h"
#include "serial/TSerCom.h"

namespace vindelor::cli {

// The sink of the command line: received-byte echoes go straight to stderr (with --echo),
// everything else is queued for the command to wait on.
class CliSink : public protocol::QueueSink {
public:
    explicit CliSink(bool echo) : echo_(echo) {}
    void post(int number, std::int64_t wParam, std::int64_t lParam) override;
    // Ends the current "recv:" line of the echo, if one is open.
    void endEchoLine();

private:
    bool echo_;
    std::mutex printMutex_;
    bool lineOpen_ = false;
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
    // Prints the echo of the bytes sent since the last call (with --echo).
    void flushSendEcho();
    // Waits for the value reply of a register; nothing after the time-out.
    std::optional<std::uint32_t> awaitRegister(int registerNumber, int timeoutMs);

private:
    GlobalOptions options_;
    CliSink sink_;
    std::unique_ptr<serial::TSerCom> port_;
    protocol::Sender sender_;
    std::string sendEcho_;
    std::unique_ptr<protocol::RecvThread> thread_;
};

// "COM7" or a device path, as --port takes it.
std::unique_ptr<serial::TSerCom> MakePort(const std::string& port, int baud);
// Opens the port or throws CommandError (status 2) naming the device.
void OpenOrThrow(serial::TSerCom& port);

// Decimal, or hexadecimal with 0x; negative numbers allowed. Throws CommandError (status 2).
long long ParseNumber(const std::string& text, const char* what);

}  // namespace vindelor::cli
