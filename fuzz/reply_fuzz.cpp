// The receive thread on arbitrary bytes from the device: the input goes into a pseudo-terminal
// whose other side the thread reads as its port, followed by a register reply that marks the
// end. Every reply handed on must be one the decoder can make, and the thread must find the
// marker again whatever came before it.
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "protocol/Messages.h"
#include "protocol/QueueSink.h"
#include "protocol/RecvThread.h"
#include "serial/TSerCom.h"
#include "sim/Pty.h"

namespace {

using namespace vindelor;
using namespace std::chrono_literals;

constexpr std::uint8_t kMarkerRegister = 0xEE;

// A complete register reply: register kMarkerRegister, two bytes 0x5A 0xA5.
const std::vector<std::uint8_t> kMarker = {'R',  'R',  'R',  0x00, 0xFF, kMarkerRegister,
                                           0x11, 0x02, 0xFD, 0x5A, 0xA5, 0xA5,
                                           0x5A, 0xAA, 0xAA};

struct Line {
    sim::Pty pty;
    serial::TSerCom port{pty.slavePath(), 921600, 8000};
    protocol::QueueSink window;
    std::unique_ptr<protocol::RecvThread> thread;
    Line() {
        port.Open();
        thread = std::make_unique<protocol::RecvThread>(&port, &window);
    }
};

void WriteAll(int fd, const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w <= 0) std::abort();
        p += w;
        n -= static_cast<std::size_t>(w);
    }
}

bool IsMarker(const protocol::ReceivedMessage& m) {
    return m.number == protocol::MsgRegisterValue && m.wParam == kMarkerRegister &&
           m.lParam == 0xA55A;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Line* line = new Line;  // lives as long as the fuzzer
    // A longest frame takes a few hundred bytes, so a few markers are eaten at most.
    WriteAll(line->pty.masterFd(), data, size);
    bool found = false;
    for (int attempt = 0; attempt < 60 && !found; ++attempt) {
        WriteAll(line->pty.masterFd(), kMarker.data(), kMarker.size());
        found = line->window.take(IsMarker, 300ms).has_value();
    }
    if (!found) std::abort();  // the thread lost its way or stopped reading

    while (auto m = line->window.take([](const protocol::ReceivedMessage&) { return true; }, 0ms)) {
        if (m->payload.size() > 256) std::abort();
        if (m->number == protocol::MsgRegisterValue && (m->wParam < 1 || m->wParam > 255))
            std::abort();
    }
    return 0;
}
