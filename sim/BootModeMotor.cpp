#include "sim/BootModeMotor.h"

namespace vindelor::sim {

namespace {
constexpr std::uint8_t kFpgaAnnounce = 0x55;
}

void BootModeMotor::AppendWord(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

int BootModeMotor::lineRate() const {
    std::lock_guard lock(mutex_);
    return rate_;
}

std::vector<std::uint8_t> BootModeMotor::request() {
    std::lock_guard lock(mutex_);
    state_ = State::FirmwareLength;
    word_.clear();
    firmware_.clear();
    fpga_.clear();
    sum_ = 0;
    verdict_ = -1;
    finished_ = false;
    askedAt_ = Clock::now();
    // The request leaves at the request rate; the motor listens at the download rate from here.
    rate_ = kDownloadRate;
    return {'f', 'f', 'f'};
}

bool BootModeMotor::shouldAsk() const {
    std::lock_guard lock(mutex_);
    if (finished_) return false;
    const bool unanswered = state_ == State::FirmwareLength && word_.empty() &&
                            Clock::now() - askedAt_ > std::chrono::milliseconds(kAskAgainMs);
    return state_ == State::Idle || unanswered;
}

bool BootModeMotor::finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

void BootModeMotor::setSumOffset(std::uint32_t offset) {
    std::lock_guard lock(mutex_);
    sumOffset_ = offset;
}

void BootModeMotor::setStartAnswer(int answer) {
    std::lock_guard lock(mutex_);
    startAnswer_ = answer;
}

std::vector<std::uint8_t> BootModeMotor::firmware() const {
    std::lock_guard lock(mutex_);
    return firmware_;
}

std::vector<std::uint8_t> BootModeMotor::fpga() const {
    std::lock_guard lock(mutex_);
    return fpga_;
}

std::uint32_t BootModeMotor::announcedFirmware() const {
    std::lock_guard lock(mutex_);
    return firmwareLength_;
}

std::uint32_t BootModeMotor::announcedFpga() const {
    std::lock_guard lock(mutex_);
    return fpgaLength_;
}

int BootModeMotor::verdict() const {
    std::lock_guard lock(mutex_);
    return verdict_;
}

void BootModeMotor::afterFirmware(std::vector<std::uint8_t>& reply) {
    AppendWord(reply, sum_ + sumOffset_);
    state_ = State::Verdict;
}

void BootModeMotor::afterFpgaLength(std::vector<std::uint8_t>& reply) {
    if (fpgaLength_ == 0) {
        finish(reply);
        return;
    }
    if (startAnswer_ < 0) {
        // Configuration never started: the motor gives up on this download.
        state_ = State::Idle;
        rate_ = kRequestRate;
        return;
    }
    reply.push_back(static_cast<std::uint8_t>(startAnswer_));
    if (startAnswer_ != 0) {
        state_ = State::Idle;
        rate_ = kRequestRate;
        return;
    }
    state_ = State::Fpga;
}

void BootModeMotor::finish(std::vector<std::uint8_t>& reply) {
    reply.push_back(kFinalByte);
    state_ = State::Done;
    finished_ = true;
    rate_ = kRequestRate;
}

void BootModeMotor::onByte(std::uint8_t b, Clock::time_point, std::vector<std::uint8_t>& reply) {
    std::lock_guard lock(mutex_);
    switch (state_) {
        case State::Idle:
        case State::Done:
            return;
        case State::FirmwareLength:
        case State::FpgaLength: {
            word_.push_back(b);
            if (word_.size() < 4) return;
            const std::uint32_t v = word_[0] | word_[1] << 8 | word_[2] << 16 | static_cast<std::uint32_t>(word_[3]) << 24;
            word_.clear();
            if (state_ == State::FirmwareLength) {
                firmwareLength_ = v;
                state_ = State::Firmware;
                if (v == 0) afterFirmware(reply);
            } else {
                fpgaLength_ = v;
                afterFpgaLength(reply);
            }
            return;
        }
        case State::Firmware:
            firmware_.push_back(b);
            sum_ += b;
            if (firmware_.size() == firmwareLength_) afterFirmware(reply);
            return;
        case State::Verdict:
            verdict_ = b;
            state_ = State::Announce;
            return;
        case State::Announce:
            if (b == kFpgaAnnounce) state_ = State::FpgaLength;
            return;
        case State::Fpga:
            fpga_.push_back(b);
            if (fpga_.size() == fpgaLength_) finish(reply);
            return;
    }
}

}  // namespace vindelor::sim
