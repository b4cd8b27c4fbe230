#include "sim/Bootloader.h"

#include <utility>

#include "firmware/Crc.h"

namespace vindelor::sim {

namespace {

constexpr int kCommandBase = 0xA0;
constexpr int kPatternRunToWake = 8;  // alternating bytes that count as the wake pattern
constexpr int kPingCommand = 0;
constexpr int kAnnounceCommand = 1;
constexpr int kEraseCommand = 2;
constexpr int kStatusReply = 4;
constexpr int kEndCommand = 7;
constexpr int kIdentifyCommand = 8;
constexpr int kAnnounceEppCommand = 10;
constexpr int kSetBaudCommand = 11;

struct ModeBytes {
    int rate;
    std::uint8_t wake;
    std::uint8_t ready;
};
constexpr ModeBytes kModeBytes[4] = {
    {57600, 0x4C, 0x5A},
    {38400, 0x5C, 0x4A},
    {19200, 0x6C, 0x6A},
    {19200, 0x7C, 0x7A},
};

std::uint32_t BigEndian(const std::vector<std::uint8_t>& d, std::size_t from, std::size_t n) {
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < n && from + k < d.size(); ++k) v = (v << 8) | d[from + k];
    return v;
}

}  // namespace

Bootloader::Bootloader(Config config) : config_(config) {
    const ModeBytes& m = kModeBytes[config_.mode & 3];
    wake_ = m.wake;
    ready_ = m.ready;
    startRate_ = m.rate;
    if (config_.startInBootloader) {
        state_ = State::Idle;
        rate_ = startRate_;
    }
}

Bootloader::Config Bootloader::ForMode(int mode, std::uint8_t hardware) {
    Config c;
    c.mode = mode;
    c.hardware = hardware;
    switch (mode) {
    case 0: c.resetCommand = 0x56; break;
    case 1: c.resetCommand = hardware == 1 ? 0x33 : hardware == 2 ? 0x42 : hardware == 4 ? 0x60 : 0; break;
    case 2: c.resetCommand = 0x57; break;
    default: c.resetCommand = hardware == 3 ? 0x21 : hardware == 5 ? 0x71 : hardware == 6 ? 0x81 : 0; break;
    }
    return c;
}

int Bootloader::lineRate() const {
    std::lock_guard lock(mutex_);
    return rate_;
}

void Bootloader::onToolRate(int baud) {
    std::lock_guard lock(mutex_);
    toolRate_ = baud;
}

std::vector<DeviceModel::LaterOutput> Bootloader::takeLaterOutput() {
    std::lock_guard lock(mutex_);
    for (const auto& l : later_) bytesSent_ += l.bytes.size();
    return std::exchange(later_, {});
}

void Bootloader::onByte(std::uint8_t b, Clock::time_point, std::vector<std::uint8_t>& reply) {
    std::lock_guard lock(mutex_);
    if (pendingRate_ > 0) rate_ = std::exchange(pendingRate_, 0);
    deferred_ = false;
    if (silent_) return;
    if (state_ == State::Firmware) {
        // The firmware talks the register protocol at 19200 and resets on its reset request;
        // it takes no wake pattern.
        if (toolRate_ == 0 || toolRate_ == kFirmwareBaud) watchReset(b);
        return;
    }
    // Framing errors: the byte is lost. Nothing but a power cycle brings back the first rate.
    if (toolRate_ > 0 && toolRate_ != rate_) return;
    const std::size_t before = reply.size();
    handleByte(b, reply);
    bytesSent_ += reply.size() - before;
}

bool Bootloader::watchPattern(std::uint8_t b) {
    const std::uint8_t expected = patternRun_ % 2 == 0 ? 0xFF : wake_;
    if (b == expected) {
        ++patternRun_;
    } else {
        patternRun_ = b == 0xFF ? 1 : 0;
    }
    if (patternRun_ >= kPatternRunToWake) {
        patternRun_ = 0;
        return true;
    }
    return false;
}

void Bootloader::watchReset(std::uint8_t b) {
    const std::uint8_t request[] = {config_.resetCommand, config_.resetCommand, config_.resetCommand,
                                    0xFF, 0x00, 0xAA};
    if (config_.resetCommand == 0) return;
    if (b == request[resetIndex_]) {
        if (++resetIndex_ == static_cast<int>(sizeof request)) {
            resetIndex_ = 0;
            ++resetRequests_;
            state_ = State::Listening;
            rate_ = startRate_;
            patternRun_ = 0;
        }
    } else {
        resetIndex_ = b == config_.resetCommand ? 1 : 0;
    }
}

void Bootloader::enterBootloader() {
    ++wakeUps_;
    state_ = State::Idle;
    rate_ = startRate_;
}

void Bootloader::handleByte(std::uint8_t b, std::vector<std::uint8_t>& reply) {
    switch (state_) {
    case State::Firmware:
        return;
    case State::Listening:
        if (watchPattern(b)) {
            enterBootloader();
            sendOut(reply, {ready_}, 0);
        }
        return;
    case State::Idle:
        if (b >= kCommandBase && b <= kCommandBase + 0x0F) {
            state_ = State::Frame;
            frameCommand_ = b - kCommandBase;
            frameCount_ = -1;
            frameData_.clear();
        }
        return;
    case State::Frame:
        if (frameCount_ < 0) {
            frameCount_ = b;
            return;
        }
        if (static_cast<int>(frameData_.size()) < frameCount_) {
            frameData_.push_back(b);
            return;
        }
        {
            unsigned sum = static_cast<unsigned>(kCommandBase + frameCommand_ + frameCount_) + b;
            for (auto d : frameData_) sum += d;
            state_ = State::Idle;
            if ((sum & 0xFFu) == 0) handleFrame(reply);
        }
        return;
    case State::Data:
        blockBytes_.push_back(b);
        if (blockBytes_.size() == blockExpected_) finishBlock(reply);
        return;
    }
}

void Bootloader::sendOut(std::vector<std::uint8_t>& out, std::vector<std::uint8_t> bytes, int delayMs) {
    if (delayMs > 0 || deferred_) {
        if (!deferred_) deferredMs_ = delayMs;
        later_.push_back({deferredMs_, std::move(bytes), true});
        deferred_ = true;
        return;
    }
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void Bootloader::appendReply(std::vector<std::uint8_t>& out, int command, std::vector<std::uint8_t> data) {
    const int occurrence = repliesSent_[command]++;
    if (lostReplies_.count({command, occurrence})) return;
    std::vector<std::uint8_t> frame;
    frame.push_back(static_cast<std::uint8_t>(kCommandBase + command));
    frame.push_back(static_cast<std::uint8_t>(data.size()));
    unsigned sum = frame[0] + frame[1];
    for (auto d : data) {
        frame.push_back(d);
        sum += d;
    }
    std::uint8_t check = static_cast<std::uint8_t>(-static_cast<int>(sum & 0xFFu));
    if (corruptReplies_.count({command, occurrence})) check = static_cast<std::uint8_t>(check ^ 0x5A);
    frame.push_back(check);
    frame[1] = static_cast<std::uint8_t>(frame[1] | countHighBits_);
    ++framesSent_;
    if (const auto hold = heldReplies_.find({command, occurrence}); hold != heldReplies_.end()) {
        auto& waiting = held_[hold->second];
        waiting.insert(waiting.end(), frame.begin(), frame.end());
        return;
    }
    const auto delay = delayedReplies_.find({command, occurrence});
    sendOut(out, std::move(frame), delay != delayedReplies_.end() ? delay->second : 0);
}

void Bootloader::handleFrame(std::vector<std::uint8_t>& reply) {
    // Replies held back until this command has been answered go out behind its answer (not a
    // reply held back by this very answer).
    auto released = held_.extract(frameCommand_);
    answerFrame(reply);
    if (!released.empty()) sendOut(reply, std::move(released.mapped()), 0);
}

void Bootloader::answerFrame(std::vector<std::uint8_t>& reply) {
    commands_.push_back({frameCommand_, frameData_});
    const auto& d = frameData_;
    const bool fastModes = config_.mode == 2 || config_.mode == 3;
    switch (frameCommand_) {
    case kPingCommand:
        appendReply(reply, kPingCommand, {});
        break;
    case kIdentifyCommand:
        appendReply(reply, kIdentifyCommand,
                    {static_cast<std::uint8_t>(config_.version >> 8), static_cast<std::uint8_t>(config_.version & 0xFF),
                     static_cast<std::uint8_t>(config_.revision), config_.hardware});
        break;
    case kSetBaudCommand: {
        if (!fastModes) break;  // only the bootloaders of modes 2 and 3 change their rate
        const std::size_t index = d.empty() ? 99 : d[0];
        appendReply(reply, kSetBaudCommand, {});
        if (index < kBaudTable.size()) pendingRate_ = kBaudTable[index];
        break;
    }
    case kEraseCommand: {
        erased_.push_back(d.empty() ? -1 : d[0]);
        appendReply(reply, kEraseCommand, {0});
        if (fastModes) {
            // The end of the erase, reported when the erase is over; the flash controller
            // erases on its own, and commands that come meanwhile are answered at once.
            std::vector<std::uint8_t> status;
            const bool deferred = std::exchange(deferred_, false);
            appendReply(status, kStatusReply, {0});
            deferred_ = deferred;
            if (!status.empty()) later_.push_back({config_.eraseTimeMs, status, true});
        }
        break;
    }
    case kAnnounceEppCommand:
        if (config_.mode != 1) break;  // only mode 1 has EPP memory to write
        [[fallthrough]];
    case kAnnounceCommand: {
        block_ = Block {};
        block_.command = frameCommand_;
        std::size_t length = 0;
        if (frameCommand_ == kAnnounceEppCommand || config_.mode == 1) {
            block_.address = BigEndian(d, 0, 2);
            length = BigEndian(d, 2, 2);
        } else {
            block_.address = BigEndian(d, 0, 3);
            length = BigEndian(d, 3, 2);
        }
        // Mode 0 and 3 announce the length without the block's own check; mode 2 sends a
        // four-byte CRC-32 after the data.
        if (frameCommand_ == kAnnounceCommand && (config_.mode == 0 || config_.mode == 3)) length += 2;
        if (frameCommand_ == kAnnounceCommand && config_.mode == 2) length += 4;
        blockExpected_ = length;
        blockBytes_.clear();
        appendReply(reply, frameCommand_, {});
        if (blockExpected_ > 0) state_ = State::Data;
        else finishBlock(reply);
        break;
    }
    case kEndCommand:
        ended_ = true;
        state_ = State::Firmware;
        rate_ = kFirmwareBaud;
        break;
    default:
        break;
    }
}

void Bootloader::finishBlock(std::vector<std::uint8_t>& reply) {
    state_ = State::Idle;
    bool good = true;
    if (block_.command == kAnnounceCommand) {
        if (config_.mode == 2) {
            const std::size_t n = blockBytes_.size() >= 4 ? blockBytes_.size() - 4 : 0;
            const std::uint32_t trailer = blockBytes_.size() >= 4
                                              ? static_cast<std::uint32_t>(blockBytes_[n]) |
                                                    static_cast<std::uint32_t>(blockBytes_[n + 1]) << 8 |
                                                    static_cast<std::uint32_t>(blockBytes_[n + 2]) << 16 |
                                                    static_cast<std::uint32_t>(blockBytes_[n + 3]) << 24
                                              : 0;
            good = blockBytes_.size() >= 4 && ~firmware::Crc32(blockBytes_.data(), n) == trailer;
            blockBytes_.resize(n);
        } else {
            good = blockBytes_.size() >= 2 && firmware::Crc16(blockBytes_.data(), blockBytes_.size()) == 0;
        }
    }
    block_.data = blockBytes_;
    block_.transferStatus = 0;
    block_.writeStatus = good ? 0 : 2;
    if (auto fault = blockFaults_.find(blockCount_); fault != blockFaults_.end()) {
        block_.transferStatus = fault->second.first;
        block_.writeStatus = fault->second.second;
    }
    ++blockCount_;
    appendReply(reply, kStatusReply, {static_cast<std::uint8_t>(block_.transferStatus)});
    if (block_.transferStatus == 0) {
        appendReply(reply, kStatusReply, {static_cast<std::uint8_t>(block_.writeStatus)});
        if (block_.writeStatus == 0 && block_.command == kAnnounceCommand) flash_[block_.address] = block_.data;
    }
    blocks_.push_back(block_);
}

void Bootloader::setBlockStatus(int block, int transferStatus, int writeStatus) {
    std::lock_guard lock(mutex_);
    blockFaults_[block] = {transferStatus, writeStatus};
}

void Bootloader::loseReply(int command, int occurrence) {
    std::lock_guard lock(mutex_);
    lostReplies_[{command, occurrence}] = true;
}

void Bootloader::corruptReplyChecksum(int command, int occurrence) {
    std::lock_guard lock(mutex_);
    corruptReplies_[{command, occurrence}] = true;
}

void Bootloader::holdReply(int command, int occurrence, int releasedAfter) {
    std::lock_guard lock(mutex_);
    heldReplies_[{command, occurrence}] = releasedAfter;
}

void Bootloader::setCountHighBits(std::uint8_t bits) {
    std::lock_guard lock(mutex_);
    countHighBits_ = static_cast<std::uint8_t>(bits & 0xF0);
}

void Bootloader::setSilent(bool silent) {
    std::lock_guard lock(mutex_);
    silent_ = silent;
}

void Bootloader::delayReply(int command, int occurrence, int ms) {
    std::lock_guard lock(mutex_);
    delayedReplies_[{command, occurrence}] = ms;
}

void Bootloader::powerCycle() {
    std::lock_guard lock(mutex_);
    ++powerCycles_;
    silent_ = false;
    state_ = State::Listening;
    rate_ = startRate_;
    pendingRate_ = 0;
    patternRun_ = 0;
    resetIndex_ = 0;
    frameCount_ = -1;
    frameData_.clear();
    blockBytes_.clear();
    held_.clear();
}

int Bootloader::powerCycles() const {
    std::lock_guard lock(mutex_);
    return powerCycles_;
}

std::vector<Bootloader::Block> Bootloader::blocks() const {
    std::lock_guard lock(mutex_);
    return blocks_;
}

std::vector<Bootloader::Command> Bootloader::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

std::vector<int> Bootloader::erasedBlocks() const {
    std::lock_guard lock(mutex_);
    return erased_;
}

std::map<std::uint32_t, std::vector<std::uint8_t>> Bootloader::flash() const {
    std::lock_guard lock(mutex_);
    return flash_;
}

int Bootloader::resetRequests() const {
    std::lock_guard lock(mutex_);
    return resetRequests_;
}

std::size_t Bootloader::bytesSent() const {
    std::lock_guard lock(mutex_);
    return bytesSent_;
}

int Bootloader::framesSent() const {
    std::lock_guard lock(mutex_);
    return framesSent_;
}

int Bootloader::wakeUps() const {
    std::lock_guard lock(mutex_);
    return wakeUps_;
}

bool Bootloader::ended() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

bool Bootloader::runningFirmware() const {
    std::lock_guard lock(mutex_);
    return state_ == State::Firmware && !silent_;
}

int Bootloader::rate() const {
    std::lock_guard lock(mutex_);
    return rate_;
}

int Bootloader::startRate() const { return startRate_; }

}  // namespace vindelor::sim
