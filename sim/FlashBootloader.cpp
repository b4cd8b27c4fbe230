#include "sim/FlashBootloader.h"

#include <algorithm>
#include <utility>

#include "firmware/Crc.h"

namespace vindelor::sim {

namespace {
constexpr std::uint8_t kPing = 0xA0, kWrite = 0xA1, kErase = 0xA2, kRead = 0xA3, kStatus = 0xA4, kBaud = 0xAB;
constexpr std::uint8_t kFlashAnnounce = 'D', kFlashErase = 'F', kFlashGo = 'G';
// The boot monitor's answer to 'D': its name letter and the flash file size, low byte first.
constexpr std::uint8_t kAnnounceAnswer[] = {'D', 0x00, 0x10, 0x00};
}  // namespace

void AppendBootFrame(std::vector<std::uint8_t>& out, std::uint8_t header, const std::vector<std::uint8_t>& data) {
    unsigned sum = header + static_cast<unsigned>(data.size());
    out.push_back(header);
    out.push_back(static_cast<std::uint8_t>(data.size()));
    for (auto b : data) {
        out.push_back(b);
        sum += b;
    }
    out.push_back(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
}

FlashBootloader::FlashBootloader() : flash_(kFlashSize) {
    // A pattern that differs from block to block, so a block read from the wrong place shows.
    for (std::uint32_t i = 0; i < kFlashSize; ++i) flash_[i] = static_cast<std::uint8_t>(i * 31 + (i >> 10));
}

int FlashBootloader::lineRate() const {
    std::lock_guard lock(mutex_);
    return rate_;
}

void FlashBootloader::setLineRate(int baud) {
    std::lock_guard lock(mutex_);
    rate_ = baud;
}

void FlashBootloader::setSectorStarts(std::vector<std::uint32_t> starts) {
    std::lock_guard lock(mutex_);
    starts_ = std::move(starts);
}

void FlashBootloader::setSilentAfterReads(int reads) {
    std::lock_guard lock(mutex_);
    silentAfterReads_ = reads;
}

void FlashBootloader::setTimes(const FlashTimes& times) {
    std::lock_guard lock(mutex_);
    times_ = times;
}

std::size_t FlashBootloader::lostBytes() const {
    std::lock_guard lock(mutex_);
    return lost_;
}

std::vector<DeviceModel::LaterOutput> FlashBootloader::takeLaterOutput() {
    std::lock_guard lock(mutex_);
    return std::exchange(later_, {});
}

std::vector<std::uint8_t> FlashBootloader::flash() const {
    std::lock_guard lock(mutex_);
    return flash_;
}

std::vector<std::vector<std::uint8_t>> FlashBootloader::frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

std::vector<std::uint32_t> FlashBootloader::readAddresses() const {
    std::lock_guard lock(mutex_);
    return reads_;
}

std::vector<std::uint32_t> FlashBootloader::probedAddresses() const {
    std::lock_guard lock(mutex_);
    return probes_;
}

std::vector<std::uint8_t> FlashBootloader::flashFile() const {
    std::lock_guard lock(mutex_);
    return flashFile_;
}

bool FlashBootloader::flashFileErased() const {
    std::lock_guard lock(mutex_);
    return erasedForFile_;
}

void FlashBootloader::Status(std::vector<std::uint8_t>& reply, std::uint8_t status) {
    AppendBootFrame(reply, kStatus, {status});
}

int FlashBootloader::valueAt(std::uint32_t address) const {
    int n = 0;
    for (auto s : starts_)
        if (s <= address) ++n;
    return n;
}

void FlashBootloader::onByte(std::uint8_t b, Clock::time_point at,
                             std::vector<std::uint8_t>& reply) {
    std::lock_guard lock(mutex_);
    // Erasing or programming, the monitor does not read its receiver: the byte is overwritten.
    if (at < busyUntil_) {
        ++lost_;
        return;
    }
    switch (state_) {
        case State::Idle:
            if (b >= 0xA0 && b <= 0xAF) {
                frame_.assign(1, b);
                state_ = State::Count;
            } else if (b == kFlashAnnounce) {
                later_.push_back(
                    {times_.answerMs, {std::begin(kAnnounceAnswer), std::end(kAnnounceAnswer)}});
            } else if (b == kFlashErase) {
                erasedForFile_ = true;
                busyUntil_ = at + std::chrono::milliseconds(times_.eraseMs);
            } else if (b == kFlashGo) {
                flashFile_.clear();
                state_ = State::FlashFile;
                busyUntil_ = at + std::chrono::milliseconds(times_.goSetupMs);
            }
            return;
        case State::Count:
            frame_.push_back(b);
            need_ = b;
            state_ = need_ > 0 ? State::Data : State::Checksum;
            return;
        case State::Data:
            frame_.push_back(b);
            if (--need_ == 0) state_ = State::Checksum;
            return;
        case State::Checksum:
            frame_.push_back(b);
            state_ = State::Idle;
            handleFrame(reply);
            return;
        case State::WriteData:
            writeData_.push_back(b);
            if (--need_ == 0) {
                state_ = State::Idle;
                const std::size_t n = writeData_.size() - 2;
                const std::uint16_t crc = firmware::Crc16(writeData_.data(), n);
                const bool good = writeData_[n] == (crc >> 8) && writeData_[n + 1] == (crc & 0xFF);
                if (good)
                    for (std::size_t i = 0; i < n; ++i) {
                        const std::uint32_t a = writeAddress_ + static_cast<std::uint32_t>(i);
                        if (a >= kFlashBase && a < kFlashBase + kFlashSize) flash_[a - kFlashBase] = writeData_[i];
                    }
                Status(reply, good ? 0 : 1);
                Status(reply, good ? 0 : 1);
            }
            return;
        case State::FlashFile: {
            // The pairs not yet programmed when this byte arrives wait in the receive buffer.
            const auto pairTime = std::chrono::microseconds(times_.pairProgramUs);
            const auto backlog = programmedUntil_ > at && pairTime.count() > 0
                                     ? static_cast<std::size_t>((programmedUntil_ - at) / pairTime)
                                     : 0;
            if (2 * backlog + 1 > times_.fifoBytes) {
                ++lost_;
                return;
            }
            flashFile_.push_back(b);
            if (flashFile_.size() % 2 == 0)
                programmedUntil_ = std::max(programmedUntil_, at) + pairTime;
            if (flashFile_.size() == kFlashFileSize) state_ = State::Idle;
            return;
        }
    }
}

void FlashBootloader::handleFrame(std::vector<std::uint8_t>& reply) {
    frames_.push_back(frame_);
    unsigned sum = 0;
    for (auto v : frame_) sum += v;
    if ((sum & 0xFF) != 0) {
        Status(reply, 1);
        return;
    }
    const std::uint8_t header = frame_[0];
    const std::vector<std::uint8_t> data(frame_.begin() + 2, frame_.end() - 1);
    const auto address = [&] { return static_cast<std::uint32_t>(data[0] << 16 | data[1] << 8 | data[2]); };
    const auto length = [&] { return static_cast<std::uint16_t>(data[3] << 8 | data[4]); };
    switch (header) {
        case kPing:
            AppendBootFrame(reply, kPing, {});
            return;
        case kWrite:
            if (data.size() != 5) break;
            AppendBootFrame(reply, kWrite, {});
            if (length() == kProbeLength) {
                probes_.push_back(address());
                reply.push_back(static_cast<std::uint8_t>(valueAt(address())));
                reply.push_back(static_cast<std::uint8_t>(valueAt(address() + kProbeLength - 1)));
                return;
            }
            writeAddress_ = address();
            writeData_.clear();
            need_ = length() + 2u;
            state_ = State::WriteData;
            return;
        case kErase: {
            if (data.size() != 1) break;
            AppendBootFrame(reply, kErase, {});
            const std::uint32_t start = std::uint32_t {data[0]} * kSectorSize;
            for (std::uint32_t i = start; i < start + kSectorSize && i < kFlashSize; ++i) flash_[i] = 0xFF;
            Status(reply, 0);
            return;
        }
        case kRead: {
            if (data.size() != 5) break;
            reads_.push_back(address());
            if (silentAfterReads_ >= 0 && static_cast<int>(reads_.size()) > silentAfterReads_) return;
            AppendBootFrame(reply, kRead, {});
            for (std::uint32_t i = 0; i < length(); ++i) {
                const std::uint32_t a = address() + i;
                reply.push_back(a >= kFlashBase && a < kFlashBase + kFlashSize ? flash_[a - kFlashBase] : 0xFF);
            }
            Status(reply, 0);
            return;
        }
        case kBaud:
            if (data.size() != 1 || data[0] >= std::size(kRates)) break;
            AppendBootFrame(reply, kBaud, {});
            rate_ = kRates[data[0]];
            return;
        default:
            break;
    }
    Status(reply, 1);
}

}  // namespace vindelor::sim
