#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

#include "serial/TSerCom.h"

namespace vindelor::serial {

// Brings a lost port back: a USB adapter pulled out, a device that went away. The port is
// closed and opened again about once a second until it opens; between tries the caller's
// thread blocks, so waiting costs no CPU.
class PortReopener {
public:
    static constexpr int kRetryMs = 1000;
    // How often a wait looks at the caller's cancel test (a flag a signal handler sets).
    static constexpr int kCancelCheckMs = 200;

    // One try: closes the port and opens it again; false (port closed) when it does not open.
    static bool TryReopen(TSerCom& port);

    // Tries until the port opens (true), or until stop() or cancelled() (false).
    bool reopen(TSerCom& port, const std::function<bool()>& cancelled = {});
    // Ends a reopen() at once; safe from any thread.
    void stop();

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
};

}  // namespace vindelor::serial
