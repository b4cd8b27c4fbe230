#include "modules/ModulePoll.h"

#include <algorithm>
#include <chrono>

#include "registers/Definitions.h"
#include "serial/LineTime.h"
#include "util/SafeFile.h"

namespace vindelor::modules {

namespace {

using Clock = std::chrono::steady_clock;

int Take(serial::TSerCom& port) { return port.TakeReceivedByte(); }

// A byte and its complement, as the frames carry them.
int TakePair(serial::TSerCom& port) {
    const int b = Take(port);
    if ((b ^ Take(port)) != 0xFF) throw GarbledPollReply();
    return b;
}

}  // namespace

std::string PollExchange(serial::TSerCom& port, const std::function<bool()>& abandon) {
    for (std::uint8_t b : kPollRequest) port.SendChar(b);
    port.FlushTransmitRing();
    for (int i = 0; i < 3; ++i) {
        port.FillReceiveRing(1, abandon);
        if (Take(port) != kPollLetter) throw serial::TSerErr(serial::TSerErr::Io, "Error no poll reply");
    }
    port.FillReceiveRing(4, abandon);
    Take(port);  // destination
    Take(port);  // its complement
    const int n = TakePair(port);
    std::string text;
    bool ended = false;
    for (int i = 0; i < n; ++i) {
        port.FillReceiveRing(2, abandon);
        const int b = TakePair(port);
        if (b == 0) ended = true;
        if (!ended) text += static_cast<char>(b);
    }
    port.FillReceiveRing(2, abandon);
    Take(port);
    Take(port);
    return text;
}

ModulePoller::ModulePoller(serial::TSerCom& port, TextHook onText, FailureHook onFailure)
    : port_(port), onText_(std::move(onText)), onFailure_(std::move(onFailure)) {
    thread_ = std::thread([this] { Run(); });
}

ModulePoller::~ModulePoller() { Stop(); }

bool ModulePoller::StopRequested() {
    std::lock_guard lock(mutex_);
    return stopRequested_;
}

void ModulePoller::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    stop_.notify_all();
    port_.WakeReader();
    if (thread_.joinable()) thread_.join();
    running_ = false;
}

void ModulePoller::Run() {
    const auto abandon = [this] { return StopRequested(); };
    while (!StopRequested()) {
        auto pauseEnd = Clock::now() + std::chrono::milliseconds(kPollIntervalMs);
        try {
            // What waits before the request came after the last reply's quiet time: nobody's.
            const int before = port_.DiscardInput();
            std::string text = PollExchange(port_, abandon);
            ++exchanges_;
            const auto quietEnd =
                Clock::now() + std::chrono::ceil<Clock::duration>(serial::QuietAfterReply(
                                   static_cast<std::size_t>(PollReplyBytes(static_cast<int>(text.size()))),
                                   port_.GetBaudRate()));
            int after = 0;
            while (port_.ReadByteBefore(quietEnd) >= 0) ++after;
            pauseEnd = std::max(pauseEnd, quietEnd);
            if (before > 0 || after > 0) {
                ++doubled_;
                text.clear();
            }
            if (!text.empty() && onText_) onText_(text);
        } catch (const serial::TSerErr& failure) {
            if (dynamic_cast<const GarbledPollReply*>(&failure)) ++garbled_;
            if (StopRequested()) {
                // Cut short: what the ring holds of the reply is no use to anyone.
                port_.ReceiveCount = 0;
                port_.ReceiveReadIndex = 0;
                break;
            }
            try {
                port_.Open();
            } catch (const serial::TSerErr& e) {
                running_ = false;
                if (onFailure_) onFailure_(e);
                return;
            }
        }
        std::unique_lock lock(mutex_);
        stop_.wait_until(lock, pauseEnd, [this] { return stopRequested_; });
    }
    running_ = false;
}

std::string DumpLog(const std::string& path, std::string_view log) {
    std::string text;
    for (const std::string& line : registers::SplitLines(std::string(log))) text += line + "\r\n";
    return util::WriteFileSafely(path, text);
}

}  // namespace vindelor::modules
