#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace vindelor::protocol {

// Numbers of the messages worker threads hand to the window thread.
enum MessageNumber : int {
    MsgRegisterValue = 1024,   // posted: register number, 32-bit value
    MsgReceivedByte = 1025,    // posted: byte 0..255, or kLoadedMarker
    MsgSampleRow = 1026,       // sent: payload of an 'S' reply
    MsgDebugInfo = 1028,       // sent: the 8 payload bytes of a '0' reply
    MsgFieldbusData = 1029,    // sent: payload of an '@' reply
    MsgProgress = 1030,        // posted: percentage 0..100
    MsgModuleInfo = 1031,      // sent: payload of an 'a' reply
    MsgModuleStatus = 1032,    // sent: 108-byte buffer holding an 'X' payload
    MsgModuleRegister = 1033,  // sent: register number, 32-bit value of a '[' reply
    MsgDebugData = 1034,       // sent: payload of a 'C' reply
    MsgLoaderState = 1124,     // posted: firmware loader status code
    MsgLoaderInfo = 1125,      // loader information
    MsgErrorBox = 1126,        // sent: a box for the user; text = the message, wParam = 1 for
                               // a warning (caption "Error"), 0 for a plain box; payload = the
                               // caption when it is not "Error"
};

// The argument of MsgReceivedByte that stands for "<Loaded>".
constexpr int kLoadedMarker = 1000;

// A message that a worker sends and waits for. The payload and text stay valid until the
// handler has returned; a handler copies what it keeps.
struct Message {
    int number = 0;
    std::int64_t wParam = 0;
    std::int64_t lParam = 0;
    std::span<const std::uint8_t> payload;
    std::string_view text;
};

// How workers reach the window thread. post() queues integers and keeps their order; send()
// blocks the calling worker until the window thread has handled the message.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void post(int number, std::int64_t wParam, std::int64_t lParam) = 0;
    virtual void send(const Message& message) = 0;
    // Called on a thread that waits for a worker which may be blocked in send(): when the
    // calling thread is the one that handles the messages, it handles what is waiting (in
    // order, posted ones included); otherwise nothing happens.
    virtual void deliverPending() {}
};

}  // namespace vindelor::protocol
