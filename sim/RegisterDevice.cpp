#include "sim/RegisterDevice.h"

#include <algorithm>
#include <cmath>

namespace vindelor::sim {

namespace {

std::uint8_t Low(std::uint32_t v, int byte) {
    return static_cast<std::uint8_t>(v >> (8 * byte));
}

}  // namespace

void AppendReplyFrame(std::vector<std::uint8_t>& out, std::uint8_t letter,
                      const std::vector<std::uint8_t>& body) {
    out.insert(out.end(), {letter, letter, letter, 0x00, 0xFF});
    for (std::uint8_t b : body) {
        out.push_back(b);
        out.push_back(static_cast<std::uint8_t>(~b));
    }
    out.insert(out.end(), {0xAA, 0xAA});
}

RegisterDevice::RegisterDevice() {
    widths_.fill(1);
    // A debug program running, a moving position in the module status: something to look at.
    moduleInfo_ = {1, 0x34, 0x00, 2, 0, 0, 0x12, 0x00};
    moduleStatus_.assign(kModuleStatusSize, 0);
    moduleStatus_[0] = 0x05;
    for (std::size_t i = 0; i < kDebugDataSize; ++i) debugData_.push_back(static_cast<std::uint8_t>(i));
}

void RegisterDevice::setAddress(int address) {
    std::lock_guard lock(mutex_);
    address_ = address & 0xFF;
}

void RegisterDevice::setGroup(int group) {
    std::lock_guard lock(mutex_);
    group_ = group & 0xFF;
}

int RegisterDevice::address() const {
    std::lock_guard lock(mutex_);
    return address_;
}

int RegisterDevice::group() const {
    std::lock_guard lock(mutex_);
    return group_;
}

void RegisterDevice::setWidth(int reg, int words) {
    std::lock_guard lock(mutex_);
    widths_.at(static_cast<std::size_t>(reg)) = static_cast<std::uint8_t>(words == 2 ? 2 : 1);
}

int RegisterDevice::width(int reg) const {
    std::lock_guard lock(mutex_);
    return widths_.at(static_cast<std::size_t>(reg));
}

void RegisterDevice::setWordsPerRegister(int words) {
    std::lock_guard lock(mutex_);
    wordsPerRegister_ = words == 2 ? 2 : 1;
}

void RegisterDevice::setSampleBase(int reg) {
    std::lock_guard lock(mutex_);
    sampleBase_ = reg;
}

std::uint32_t RegisterDevice::value(int reg) const {
    std::lock_guard lock(mutex_);
    return readValue(reg, Clock::now());
}

void RegisterDevice::setValue(int reg, std::uint32_t value) {
    std::lock_guard lock(mutex_);
    const std::uint8_t bytes[4] = {Low(value, 0), Low(value, 1), Low(value, 2), Low(value, 3)};
    writeBytes(reg, bytes, 2u * widths_.at(static_cast<std::size_t>(reg)));
}

void RegisterDevice::setLive(int reg, std::function<std::uint32_t(Clock::time_point)> source) {
    std::lock_guard lock(mutex_);
    live_.at(static_cast<std::size_t>(reg)) = std::move(source);
}

void RegisterDevice::setModuleInfo(const std::vector<std::uint8_t>& payload) {
    std::lock_guard lock(mutex_);
    moduleInfo_ = payload;
}

void RegisterDevice::setModuleStatus(const std::vector<std::uint8_t>& payload) {
    std::lock_guard lock(mutex_);
    moduleStatus_ = payload;
}

void RegisterDevice::setModuleRegister(int reg, std::int32_t value) {
    std::lock_guard lock(mutex_);
    moduleRegisters_.at(static_cast<std::size_t>(reg)) = value;
}

std::int32_t RegisterDevice::moduleRegister(int reg) const {
    std::lock_guard lock(mutex_);
    return moduleRegisters_.at(static_cast<std::size_t>(reg));
}

void RegisterDevice::feedModuleText(const std::string& text) {
    std::lock_guard lock(mutex_);
    moduleText_ += text;
}

void RegisterDevice::setDemoText(bool on) {
    std::lock_guard lock(mutex_);
    demoText_ = on;
    nextDemoLine_ = Clock::now();
}

int RegisterDevice::pollCount() const {
    std::lock_guard lock(mutex_);
    return polls_;
}

void RegisterDevice::setDebugInfo(const std::vector<std::uint8_t>& block) {
    std::lock_guard lock(mutex_);
    debugInfo_ = block;
}

void RegisterDevice::setProfiData(const std::vector<std::uint8_t>& data) {
    std::lock_guard lock(mutex_);
    profiData_ = data;
}

std::vector<std::uint8_t> RegisterDevice::profiData() const {
    std::lock_guard lock(mutex_);
    return profiData_;
}

void RegisterDevice::setDebugData(const std::vector<std::uint8_t>& data) {
    std::lock_guard lock(mutex_);
    debugData_ = data;
}

void RegisterDevice::followRotation(int positionRegister) {
    std::lock_guard lock(mutex_);
    positionRegister_ = positionRegister;
}

std::vector<Frame> RegisterDevice::frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

void RegisterDevice::clearFrames() {
    std::lock_guard lock(mutex_);
    frames_.clear();
}

int RegisterDevice::lastGroupSequence() const {
    std::lock_guard lock(mutex_);
    return lastSequence_;
}

std::uint32_t RegisterDevice::readValue(int reg, Clock::time_point at) const {
    const auto r = static_cast<std::size_t>(reg & 0xFF);
    if (reg == positionRegister_ && rotating()) return static_cast<std::uint32_t>(rotationPosition_);
    if (live_[r]) return live_[r](at);
    const std::size_t first = r * static_cast<std::size_t>(wordsPerRegister_);
    const std::size_t end = kRegisterCount * static_cast<std::size_t>(wordsPerRegister_);
    std::uint32_t v = words_[first];
    if (widths_[r] == 2 && first + 1 < end)
        v |= static_cast<std::uint32_t>(words_[first + 1]) << 16;
    return v;
}

void RegisterDevice::writeBytes(int reg, const std::uint8_t* bytes, std::size_t n) {
    // Two bytes a word, as many words as the register has: a 4-byte write to a one-word
    // register stores its low word and leaves the next register alone. The store ends with
    // register 255.
    const std::size_t r = static_cast<std::size_t>(reg & 0xFF);
    const std::size_t first = r * static_cast<std::size_t>(wordsPerRegister_);
    const std::size_t end = kRegisterCount * static_cast<std::size_t>(wordsPerRegister_);
    const std::size_t words = widths_[r];
    for (std::size_t k = 0; 2 * k < n && k < words; ++k) {
        const std::size_t index = first + k;
        if (index >= end) break;
        std::uint16_t w = bytes[2 * k];
        if (2 * k + 1 < n) w = static_cast<std::uint16_t>(w | bytes[2 * k + 1] << 8);
        words_[index] = w;
    }
}

void RegisterDevice::onByte(std::uint8_t b, Clock::time_point at,
                            std::vector<std::uint8_t>& reply) {
    std::lock_guard lock(mutex_);
    if (auto frame = reader_.push(b, at)) {
        frames_.push_back(*frame);
        handle(*frame, at, reply);
    }
}

void RegisterDevice::handle(const Frame& f, Clock::time_point at,
                            std::vector<std::uint8_t>& reply) {
    const auto& body = f.body;
    if (f.letter == 'Y') {
        // Group write: sequence, register, count, data.
        if (f.destination != group_ || body.size() < 3) return;
        const std::size_t n = body[2];
        if (body.size() < 3 + n) return;
        lastSequence_ = body[0];
        writeBytes(body[1], body.data() + 3, n);
        return;
    }
    if (f.letter == ' ') {
        // The module text poll always goes to 255.
        if (f.destination == 0xFF) answerPoll(at, reply);
        return;
    }
    if (f.destination != address_ && f.destination != kEveryone) return;
    switch (f.letter) {
        case 'P': {
            if (body.empty()) return;
            const int reg = body[0];
            const int n = 2 * widths_[static_cast<std::size_t>(reg)];
            const std::uint32_t v = readValue(reg, at);
            std::vector<std::uint8_t> out = {static_cast<std::uint8_t>(reg),
                                             static_cast<std::uint8_t>(n)};
            for (int i = 0; i < n; ++i) out.push_back(Low(v, i));
            AppendReplyFrame(reply, 'R', out);
            break;
        }
        case 'R': {
            if (body.size() < 2 || body.size() < 2u + body[1]) return;
            const std::uint32_t before = readValue(body[0], at);
            writeBytes(body[0], body.data() + 2, body[1]);
            if (body[0] == kRotationStepRegister && rotating()) {
                const auto step = static_cast<std::int64_t>(readValue(body[0], at)) - before;
                rotationPosition_ += static_cast<std::int32_t>(((step % kRotationModulo) + kRotationModulo) % kRotationModulo);
            }
            break;
        }
        case 'S': {
            std::vector<std::uint8_t> out;
            const int bytesPerSample = 2 * wordsPerRegister_;
            out.push_back(static_cast<std::uint8_t>(4 * bytesPerSample));
            for (int c = 0; c < 4; ++c) {
                const int selector =
                    static_cast<int>(readValue((sampleBase_ + c) & 0xFF, at) & 0xFF);
                const std::uint32_t v = readValue(selector, at);
                for (int i = 0; i < bytesPerSample; ++i) out.push_back(Low(v, i));
            }
            AppendReplyFrame(reply, 'S', out);
            break;
        }
        case '0': {
            if (!debugInfo_.empty()) {
                AppendReplyFrame(reply, '0', debugInfo_);
                break;
            }
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at - started_).count();
            const auto timer = static_cast<std::uint16_t>(ms / 10);
            AppendReplyFrame(reply, '0',
                             {0x43, 0x45, 0x09, Low(timer, 0), Low(timer, 1), 0x2A, 0x00, 0x25});
            break;
        }
        case '@': {
            std::vector<std::uint8_t> out = {static_cast<std::uint8_t>(profiData_.size())};
            out.insert(out.end(), profiData_.begin(), profiData_.end());
            AppendReplyFrame(reply, '@', out);
            break;
        }
        case 'A':
            profiData_ = body;
            break;
        case 'C': {
            std::vector<std::uint8_t> out = {static_cast<std::uint8_t>(debugData_.size())};
            out.insert(out.end(), debugData_.begin(), debugData_.end());
            AppendReplyFrame(reply, 'C', out);
            break;
        }
        case 'X': {
            std::vector<std::uint8_t> out = {static_cast<std::uint8_t>(moduleStatus_.size())};
            out.insert(out.end(), moduleStatus_.begin(), moduleStatus_.end());
            if (lastSequence_ >= 0 && out.size() > 8)
                out[8] = static_cast<std::uint8_t>(lastSequence_);
            AppendReplyFrame(reply, 'X', out);
            break;
        }
        case 'Z': {
            if (body.empty()) return;
            const auto v = static_cast<std::uint32_t>(moduleRegisters_[body[0]]);
            AppendReplyFrame(reply, '[', {body[0], 4, Low(v, 0), Low(v, 1), Low(v, 2), Low(v, 3)});
            break;
        }
        case '[': {
            if (body.size() < 2 || body[1] > 4 || body.size() < 2u + body[1]) return;
            std::uint32_t v = 0;
            for (std::size_t i = 0; i < body[1]; ++i)
                v |= static_cast<std::uint32_t>(body[2 + i]) << (8 * i);
            moduleRegisters_[body[0]] = static_cast<std::int32_t>(v);
            break;
        }
        case 'a': {
            std::vector<std::uint8_t> out = {static_cast<std::uint8_t>(moduleInfo_.size())};
            out.insert(out.end(), moduleInfo_.begin(), moduleInfo_.end());
            AppendReplyFrame(reply, 'a', out);
            break;
        }
        default:
            // 'W' 'V' 'T' 'U', the program commands and the rest: taken, not answered.
            break;
    }
}

bool RegisterDevice::rotating() const {
    return positionRegister_ >= 0 && words_[kRotationModeRegister] == kRotationMode;
}

void RegisterDevice::answerPoll(Clock::time_point at, std::vector<std::uint8_t>& reply) {
    ++polls_;
    if (demoText_ && at >= nextDemoLine_) {
        moduleText_ += "Module running, line " + std::to_string(++demoLines_) + "\r\n";
        nextDemoLine_ = at + std::chrono::milliseconds(kDemoLineMs);
    }
    const std::size_t n = std::min(moduleText_.size(), kPollTextChunk);
    // Sized first: GCC 12 at -O3 reports a false -Warray-bounds for an insert into the
    // one-byte vector.
    std::vector<std::uint8_t> body(1 + n);
    body[0] = static_cast<std::uint8_t>(n);
    std::copy_n(moduleText_.begin(), n, body.begin() + 1);
    moduleText_.erase(0, n);
    // The reply's destination is 0, as every reply of the register protocol.
    AppendReplyFrame(reply, ' ', body);
}

}  // namespace vindelor::sim
