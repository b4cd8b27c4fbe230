#include "sim/SimPort.h"

#include "serial/LineTime.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace vindelor::sim {

namespace {
constexpr std::size_t kReadChunk = 256;
// Bytes of paced input that may be on their way to the device at once: a driver's and an
// adapter's buffers.
constexpr std::size_t kInFlightLimit = 4096;

std::chrono::nanoseconds ByteTime(int rate) {
    return serial::LineTime(1, static_cast<std::uint32_t>(rate));
}

int SpeedToBaud(speed_t speed) {
    static constexpr std::pair<speed_t, int> kSpeeds[] = {
        {B1200, 1200},     {B2400, 2400},     {B4800, 4800},     {B9600, 9600},
        {B19200, 19200},   {B38400, 38400},   {B57600, 57600},   {B115200, 115200},
        {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
    };
    for (const auto& [s, b] : kSpeeds)
        if (s == speed) return b;
    return 0;
}
}  // namespace

SimPort::SimPort(std::shared_ptr<DeviceModel> model) : model_(std::move(model)) {
    if (::pipe2(wakeFds_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe2");
    thread_ = std::thread([this] { run(); });
}

SimPort::~SimPort() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake();
    thread_.join();
    ::close(wakeFds_[0]);
    ::close(wakeFds_[1]);
}

void SimPort::wake() {
    const char c = 1;
    [[maybe_unused]] auto n = ::write(wakeFds_[1], &c, 1);
}

void SimPort::setBaudRate(int baud) {
    std::lock_guard lock(mutex_);
    baud_ = baud;
}

void SimPort::setPaceInput(bool on) {
    std::lock_guard lock(mutex_);
    paceInput_ = on;
}

int SimPort::toolBaudRate() const {
    // On a pseudo-terminal the master reports the settings of the slave, the tool's end.
    termios tio {};
    const int master = pty_.masterFd();
    if (master < 0 || ::tcgetattr(master, &tio) != 0) return 0;
    return SpeedToBaud(::cfgetospeed(&tio));
}

// Called with the mutex held.
int SimPort::rateLocked() const {
    if (baud_ <= 0) return 0;
    const int own = model_->lineRate();
    return own > 0 ? own : baud_;
}

// Called with the mutex held.
int SimPort::inputRateLocked() const {
    if (model_->pacesInput()) return model_->lineRate();
    return paceInput_ ? rateLocked() : 0;
}

void SimPort::setResponseDelayMs(int ms) {
    std::lock_guard lock(mutex_);
    responseDelayMs_ = ms;
}

void SimPort::dropOutputByte(std::size_t index) {
    std::lock_guard lock(mutex_);
    faults_[index] = {Fault::Drop, 0};
}

void SimPort::corruptOutputByte(std::size_t index, std::uint8_t xorMask) {
    std::lock_guard lock(mutex_);
    faults_[index] = {Fault::Corrupt, xorMask};
}

void SimPort::delayOutputByte(std::size_t index, int ms) {
    std::lock_guard lock(mutex_);
    faults_[index] = {Fault::Delay, ms};
}

void SimPort::resetFaults() {
    std::lock_guard lock(mutex_);
    faults_.clear();
    outputIndex_ = 0;
}

void SimPort::setFaults(const FaultSettings& settings) {
    {
        std::lock_guard lock(mutex_);
        injector_ = settings.any() ? std::make_unique<FaultInjector>(settings) : nullptr;
        unplugAt_ = settings.unplugSeconds > 0
                        ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(settings.unplugSeconds))
                        : Clock::time_point::max();
    }
    wake();
}

bool SimPort::hungUp() const {
    std::lock_guard lock(mutex_);
    return pty_.masterFd() < 0;
}

void SimPort::inject(const std::vector<std::uint8_t>& bytes) {
    {
        std::lock_guard lock(mutex_);
        queueOutput(bytes, 0);
    }
    wake();
}

std::vector<std::uint8_t> SimPort::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

void SimPort::clearReceived() {
    std::lock_guard lock(mutex_);
    received_.clear();
}

std::size_t SimPort::garbledBytes() const {
    std::lock_guard lock(mutex_);
    return garbled_;
}

bool SimPort::waitReceived(std::size_t n, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return received_.size() >= n; });
}

bool SimPort::waitOutputDrained(int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return output_.empty(); });
}

void SimPort::hangUp() {
    std::unique_lock lock(mutex_);
    hangUpRequested_ = true;
    lock.unlock();
    wake();
    lock.lock();
    changed_.wait(lock, [&] { return pty_.masterFd() < 0 || stop_; });
}

// Called with the mutex held.
void SimPort::queueOutput(const std::vector<std::uint8_t>& reply, int extraDelayMs) {
    if (!injector_) {
        queuePlanLocked(OutputPlan {0, {{reply, 0, 0}}}, extraDelayMs);
        return;
    }
    const OutputPlan plan = injector_->onOutput(reply);
    // No pieces: held back until the tool's next byte (see deliverLocked).
    if (!plan.pieces.empty()) queuePlanLocked(plan, extraDelayMs);
}

// Called with the mutex held.
void SimPort::queuePlanLocked(const OutputPlan& plan, int extraDelayMs) {
    const auto now = Clock::now();
    const int rate = rateLocked();
    const auto byteTime = rate > 0 ? ByteTime(rate) : std::chrono::nanoseconds(0);
    if (nextSlot_ < now) nextSlot_ = now;
    nextSlot_ += std::chrono::milliseconds(extraDelayMs + plan.delayMs);
    const auto start = nextSlot_;
    for (const OutputPiece& piece : plan.pieces) {
        nextSlot_ = std::max(nextSlot_ + std::chrono::milliseconds(piece.gapMs),
                             start + std::chrono::milliseconds(piece.startMs));
        for (std::uint8_t b : piece.bytes) {
            std::size_t index = outputIndex_++;
            auto fault = faults_.find(index);
            if (fault != faults_.end()) {
                if (fault->second.kind == Fault::Drop) continue;
                if (fault->second.kind == Fault::Corrupt)
                    b = static_cast<std::uint8_t>(b ^ fault->second.value);
                if (fault->second.kind == Fault::Delay)
                    nextSlot_ += std::chrono::milliseconds(fault->second.value);
            }
            // The byte leaves when its slot starts and has arrived when the slot ends.
            nextSlot_ += byteTime;
            output_.push_back({b, nextSlot_});
        }
    }
}

// Called with the mutex held.
void SimPort::deliverLocked(std::uint8_t b, Clock::time_point at, int toolRate, std::vector<std::uint8_t>& reply) {
    model_->onToolRate(toolRate);
    received_.push_back(b);
    const int deviceRate = model_->lineRate();
    if (deviceRate > 0 && toolRate > 0 && deviceRate != toolRate && !model_->hearsGarbled()) {
        ++garbled_;
        return;
    }
    if (injector_) {
        const auto heard = injector_->onInput(b);
        if (!heard) return;
        b = *heard;
        // A reply held past its time comes now, ahead of the answer to this byte.
        if (const auto held = injector_->takeHeld()) queuePlanLocked(*held, 0);
    }
    reply.clear();
    model_->onByte(b, at, reply);
    if (!reply.empty()) queueOutput(reply, responseDelayMs_);
    for (auto& later : model_->takeLaterOutput()) {
        if (later.meanwhile)
            scheduled_.emplace(Clock::now() + std::chrono::milliseconds(later.delayMs + responseDelayMs_),
                               std::move(later.bytes));
        else
            queueOutput(later.bytes, later.delayMs + responseDelayMs_);
    }
}

void SimPort::run() {
    std::vector<std::uint8_t> reply;
    for (;;) {
        long long timeoutNs = -1;
        int master;
        bool takeInput = true;
        {
            std::unique_lock lock(mutex_);
            if (stop_) return;
            // A driver and an adapter hold only so much: once that much is on its way, the
            // tool's further writes wait in the pseudo-terminal, and its writes block as they
            // would on a port whose line is busy.
            takeInput = input_.size() < kInFlightLimit;
            if (Clock::now() >= unplugAt_) {
                hangUpRequested_ = true;
                unplugAt_ = Clock::time_point::max();
            }
            if (hangUpRequested_ && pty_.masterFd() >= 0) {
                pty_.closeMaster();
                changed_.notify_all();
            }
            master = pty_.masterFd();
            const auto now = Clock::now();
            // The tool's bytes that have arrived by now reach the device in order.
            bool delivered = false;
            while (!input_.empty() && input_.front().due <= now && master >= 0) {
                const Arriving a = input_.front();
                input_.pop_front();
                deliverLocked(a.byte, a.due, a.toolRate, reply);
                delivered = true;
            }
            if (master < 0) input_.clear();
            if (delivered) changed_.notify_all();
            while (!scheduled_.empty() && scheduled_.begin()->first <= now) {
                queueOutput(scheduled_.begin()->second, 0);
                scheduled_.erase(scheduled_.begin());
            }
            if (master < 0) scheduled_.clear();
            // Write every byte that is due in one go, as an adapter hands the driver what its
            // buffer gathered: the tool reads bursts, not byte after byte.
            while (!output_.empty() && output_.front().due <= now && master >= 0) {
                std::uint8_t due[1024];
                std::size_t count = 0;
                for (; count < sizeof due && count < output_.size() && output_[count].due <= now; ++count)
                    due[count] = output_[count].byte;
                const ssize_t n = ::write(master, due, count);
                if (n <= 0) break;
                output_.erase(output_.begin(), output_.begin() + n);
                if (static_cast<std::size_t>(n) < count) break;  // the pty is full
            }
            if (master < 0) output_.clear();
            if (output_.empty()) changed_.notify_all();
            if (!output_.empty()) {
                // To the byte's due time, not the next whole millisecond: a paced reply must not
                // come later than its line time says.
                const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(output_.front().due - now);
                timeoutNs = std::clamp<long long>(wait.count(), 0, 1'000'000'000);
                if (output_.front().due <= now) timeoutNs = 1'000'000;  // the pty is full: try again soon
            }
            if (unplugAt_ != Clock::time_point::max()) {
                const auto untilUnplug =
                    std::max<long long>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(unplugAt_ - now).count());
                timeoutNs = timeoutNs < 0 ? untilUnplug : std::min(timeoutNs, untilUnplug);
            }
            for (const Clock::time_point due : {input_.empty() ? Clock::time_point::max() : input_.front().due,
                                                scheduled_.empty() ? Clock::time_point::max() : scheduled_.begin()->first}) {
                if (due == Clock::time_point::max()) continue;
                const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(due - now);
                const long long ns = std::clamp<long long>(wait.count(), 0, 1'000'000'000);
                timeoutNs = timeoutNs < 0 ? ns : std::min(timeoutNs, ns);
            }
        }
        pollfd fds[2] = {{wakeFds_[0], POLLIN, 0}, {master, POLLIN, 0}};
        const nfds_t count = master >= 0 && takeInput ? 2 : 1;
        timespec ts {timeoutNs / 1'000'000'000, timeoutNs % 1'000'000'000};
        int r = ::ppoll(fds, count, timeoutNs < 0 ? nullptr : &ts, nullptr);
        if (r < 0 && errno != EINTR) return;
        if (fds[0].revents & POLLIN) {
            char sink[64];
            while (::read(wakeFds_[0], sink, sizeof sink) > 0) {
            }
        }
        if (count == 2 && (fds[1].revents & POLLIN)) {
            std::uint8_t buf[kReadChunk];
            const int toolRate = toolBaudRate();
            ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) {
                const auto at = Clock::now();
                std::lock_guard lock(mutex_);
                const int rate = inputRateLocked();
                if (rate > 0) {
                    // On the line one after the other at the tool's rate, from now or from the
                    // end of the bytes still on their way.
                    const auto byteTime = ByteTime(toolRate > 0 ? toolRate : rate);
                    if (inputSlot_ < at) inputSlot_ = at;
                    for (ssize_t i = 0; i < n; ++i) {
                        inputSlot_ += byteTime;
                        input_.push_back({buf[i], inputSlot_, toolRate});
                    }
                } else {
                    for (ssize_t i = 0; i < n; ++i) deliverLocked(buf[i], at, toolRate, reply);
                    changed_.notify_all();
                }
            }
        }
    }
}

}  // namespace vindelor::sim
