#include "sim/SimPort.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vindelor::sim {

namespace {
constexpr int kBitsPerByte = 10;  // start bit, 8 data bits, stop bit

// The rate the tool has set on its side of the pseudo-terminal (the pair shares one line
// configuration); 0 when it cannot be told.
int ToolRate(int master) {
    termios tio {};
    if (::tcgetattr(master, &tio) != 0) return 0;
    switch (::cfgetospeed(&tio)) {
        case B9600: return 9600;
        case B19200: return 19200;
        case B38400: return 38400;
        case B57600: return 57600;
        case B115200: return 115200;
        case B230400: return 230400;
        case B460800: return 460800;
        case B921600: return 921600;
        default: return 0;
    }
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
void SimPort::queueOutput(const std::vector<std::uint8_t>& bytes, int extraDelayMs) {
    const auto now = Clock::now();
    const int deviceRate = model_->lineRate();
    const int rate = baud_ > 0 && deviceRate > 0 ? deviceRate : baud_;
    const auto byteTime = rate > 0 ? std::chrono::nanoseconds(1'000'000'000LL * kBitsPerByte / rate)
                                   : std::chrono::nanoseconds(0);
    if (nextSlot_ < now) nextSlot_ = now;
    nextSlot_ += std::chrono::milliseconds(extraDelayMs);
    for (std::uint8_t b : bytes) {
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

void SimPort::run() {
    std::vector<std::uint8_t> reply;
    for (;;) {
        int timeoutMs = -1;
        int master;
        {
            std::unique_lock lock(mutex_);
            if (stop_) return;
            if (hangUpRequested_ && pty_.masterFd() >= 0) {
                pty_.closeMaster();
                changed_.notify_all();
            }
            master = pty_.masterFd();
            // Write every byte that is due.
            const auto now = Clock::now();
            while (!output_.empty() && output_.front().due <= now && master >= 0) {
                std::uint8_t b = output_.front().byte;
                ssize_t n = ::write(master, &b, 1);
                if (n != 1) break;
                output_.pop_front();
            }
            if (master < 0) output_.clear();
            if (output_.empty()) changed_.notify_all();
            if (!output_.empty()) {
                auto wait = std::chrono::ceil<std::chrono::milliseconds>(output_.front().due - now);
                timeoutMs = static_cast<int>(std::clamp<long long>(wait.count(), 0, 1000));
                if (output_.front().due <= now) timeoutMs = 1;  // the pty is full: try again soon
            }
        }
        pollfd fds[2] = {{wakeFds_[0], POLLIN, 0}, {master, POLLIN, 0}};
        int r = ::poll(fds, master >= 0 ? 2 : 1, timeoutMs);
        if (r < 0 && errno != EINTR) return;
        if (fds[0].revents & POLLIN) {
            char sink[64];
            while (::read(wakeFds_[0], sink, sizeof sink) > 0) {
            }
        }
        if (master >= 0 && (fds[1].revents & POLLIN)) {
            std::uint8_t buf[256];
            ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) {
                const auto at = Clock::now();
                const int toolRate = ToolRate(master);
                std::lock_guard lock(mutex_);
                for (ssize_t i = 0; i < n; ++i) {
                    received_.push_back(buf[i]);
                    const int deviceRate = model_->lineRate();
                    if (deviceRate > 0 && toolRate > 0 && deviceRate != toolRate) {
                        ++garbled_;
                        continue;
                    }
                    reply.clear();
                    model_->onByte(buf[i], at, reply);
                    if (!reply.empty()) queueOutput(reply, responseDelayMs_);
                }
                changed_.notify_all();
            }
        }
    }
}

}  // namespace vindelor::sim
