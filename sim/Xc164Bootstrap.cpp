#include "sim/Xc164Bootstrap.h"

namespace vindelor::sim {

Xc164Bootstrap::Xc164Bootstrap(std::shared_ptr<FlashBootloader> bootloader) : bootloader_(std::move(bootloader)) {}

int Xc164Bootstrap::lineRate() const {
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::WaitZero) return 0;
    }
    return bootloader_->lineRate();
}

void Xc164Bootstrap::onToolRate(int baud) {
    std::lock_guard lock(mutex_);
    toolRate_ = baud;
}

void Xc164Bootstrap::setLeadingZero(bool on) {
    std::lock_guard lock(mutex_);
    leadingZero_ = on;
}

std::vector<std::uint8_t> Xc164Bootstrap::code() const {
    std::lock_guard lock(mutex_);
    return code_;
}

std::vector<std::uint8_t> Xc164Bootstrap::secondStage() const {
    std::lock_guard lock(mutex_);
    return stage_;
}

bool Xc164Bootstrap::started() const {
    std::lock_guard lock(mutex_);
    return state_ == State::WaitWake || state_ == State::Running;
}

void Xc164Bootstrap::onByte(std::uint8_t b, Clock::time_point at, std::vector<std::uint8_t>& reply) {
    std::unique_lock lock(mutex_);
    switch (state_) {
        case State::WaitZero:
            if (b != 0x00) return;
            // The loader measures the 0x00 and talks at its rate from here on.
            if (toolRate_ > 0) bootloader_->setLineRate(toolRate_);
            if (leadingZero_) reply.push_back(0x00);
            reply.push_back(kIdentification);
            state_ = State::Code;
            return;
        case State::Code: {
            code_.push_back(b);
            if (code_.size() < kCodeSize) return;
            const std::size_t first = code_[2] | code_[3] << 8;
            const std::size_t last = code_[22] | code_[23] << 8;
            stageSize_ = last >= first ? last - first + 1 : 0;
            state_ = stageSize_ > 0 ? State::SecondStage : State::WaitWake;
            return;
        }
        case State::SecondStage:
            stage_.push_back(b);
            if (stage_.size() == stageSize_) state_ = State::WaitWake;
            return;
        case State::WaitWake:
            if (b == kWake) {
                reply.push_back(kStarted);
                state_ = State::Running;
            }
            return;
        case State::Running:
            lock.unlock();
            bootloader_->onByte(b, at, reply);
            return;
    }
}

}  // namespace vindelor::sim
