#include "serial/PortReopener.h"

#include <algorithm>
#include <chrono>

namespace vindelor::serial {

bool PortReopener::TryReopen(TSerCom& port) {
    try {
        port.Open();  // closes the old descriptor first
        return true;
    } catch (const TSerErr&) {
        port.Close();
        return false;
    }
}

bool PortReopener::reopen(TSerCom& port, const std::function<bool()>& cancelled) {
    using Clock = std::chrono::steady_clock;
    port.Close();
    for (;;) {
        // Wait first: the device that just went away is not back within a millisecond, and a
        // port that hangs up again at once must not be opened in a tight loop.
        const auto next = Clock::now() + std::chrono::milliseconds(kRetryMs);
        std::unique_lock lock(mutex_);
        while (!stop_ && !(cancelled && cancelled())) {
            const auto now = Clock::now();
            if (now >= next) break;
            wake_.wait_for(lock, std::min<Clock::duration>(next - now, std::chrono::milliseconds(kCancelCheckMs)));
        }
        if (stop_ || (cancelled && cancelled())) return false;
        lock.unlock();
        if (TryReopen(port)) return true;
    }
}

void PortReopener::stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
}

}  // namespace vindelor::serial
