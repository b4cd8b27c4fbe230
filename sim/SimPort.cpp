#include "sim/SimPort.h"

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
constexpr int kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
// Bytes the paced input may take at once after an idle line (a few byte times early at most).
constexpr double kInputBurst = 4;
// While bytes keep waiting the line carries them however late the simulator wakes: a device
// that falls behind its line rate would make a tool that waits out the line time look late.
constexpr double kBusyCredit = 65536;

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
    const int rate = rateLocked();
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
        long long timeoutNs = -1;
        int master;
        std::size_t inputAllowed = 256;
        {
            std::unique_lock lock(mutex_);
            if (stop_) return;
            if (hangUpRequested_ && pty_.masterFd() >= 0) {
                pty_.closeMaster();
                changed_.notify_all();
            }
            master = pty_.masterFd();
            // Write every byte that is due in one go, as an adapter hands the driver what its
            // buffer gathered: the tool reads bursts, not byte after byte.
            const auto now = Clock::now();
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
            const int rate = inputRateLocked();
            if (rate > 0) {
                // The line carries rate / 10 bytes a second; what it has carried may be taken.
                const double perNs = static_cast<double>(rate) / kBitsPerByte / 1e9;
                const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - creditAt_).count();
                // Only an idle line caps what may come at once; while bytes kept waiting, a late
                // wake-up must not cost line time.
                inputCredit_ = std::min(lineBusy_ ? kBusyCredit : kInputBurst,
                                        inputCredit_ + static_cast<double>(elapsed) * perNs);
                creditAt_ = now;
                if (inputCredit_ < 1) {
                    inputAllowed = 0;
                    const auto untilOne = static_cast<long long>((1 - inputCredit_) / perNs) + 1;
                    timeoutNs = timeoutNs < 0 ? untilOne : std::min(timeoutNs, untilOne);
                } else {
                    inputAllowed = std::min<std::size_t>(256, static_cast<std::size_t>(inputCredit_));
                }
            }
        }
        pollfd fds[2] = {{wakeFds_[0], POLLIN, 0}, {master, POLLIN, 0}};
        const nfds_t count = master >= 0 && inputAllowed > 0 ? 2 : 1;
        timespec ts {timeoutNs / 1'000'000'000, timeoutNs % 1'000'000'000};
        int r = ::ppoll(fds, count, timeoutNs < 0 ? nullptr : &ts, nullptr);
        if (r < 0 && errno != EINTR) return;
        if (fds[0].revents & POLLIN) {
            char sink[64];
            while (::read(wakeFds_[0], sink, sizeof sink) > 0) {
            }
        }
        if (count == 2 && (fds[1].revents & POLLIN)) {
            std::uint8_t buf[256];
            const int toolRate = toolBaudRate();
            ssize_t n = ::read(master, buf, std::min(sizeof buf, inputAllowed));
            if (n > 0) {
                const auto at = Clock::now();
                std::lock_guard lock(mutex_);
                if (inputRateLocked() > 0) {
                    // After an idle line the time spent waiting for these bytes is no credit:
                    // the line starts carrying them now.
                    if (!lineBusy_) {
                        inputCredit_ = std::min(inputCredit_, kInputBurst);
                        creditAt_ = at;
                    }
                    inputCredit_ -= static_cast<double>(n);
                    int waiting = 0;
                    lineBusy_ = ::ioctl(master, FIONREAD, &waiting) == 0 && waiting > 0;
                }
                model_->onToolRate(toolRate);
                for (ssize_t i = 0; i < n; ++i) {
                    received_.push_back(buf[i]);
                    const int deviceRate = model_->lineRate();
                    if (deviceRate > 0 && toolRate > 0 && deviceRate != toolRate &&
                        !model_->hearsGarbled()) {
                        ++garbled_;
                        continue;
                    }
                    reply.clear();
                    model_->onByte(buf[i], at, reply);
                    if (!reply.empty()) queueOutput(reply, responseDelayMs_);
                    for (auto& later : model_->takeLaterOutput()) queueOutput(later.bytes, later.delayMs);
                }
                changed_.notify_all();
            }
        }
    }
}

}  // namespace vindelor::sim
