#include "modules/ModulePoll.h"

#include <chrono>

#include "registers/Definitions.h"
#include "util/SafeFile.h"

namespace vindelor::modules {

namespace {

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
        try {
            const std::string text = PollExchange(port_, abandon);
            ++exchanges_;
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
        stop_.wait_for(lock, std::chrono::milliseconds(kPollIntervalMs), [this] { return stopRequested_; });
    }
    running_ = false;
}

std::string DumpLog(const std::string& path, std::string_view log) {
    std::string text;
    for (const std::string& line : registers::SplitLines(std::string(log))) text += line + "\r\n";
    return util::WriteFileSafely(path, text);
}

}  // namespace vindelor::modules
