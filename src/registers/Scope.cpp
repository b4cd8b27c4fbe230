#include "registers/Scope.h"

#include <cmath>
#include <limits>
#include <ostream>
#include <utility>

#include "registers/ValueType.h"
#include "util/Number.h"
#include "util/Text.h"

namespace vindelor::registers {

std::uint32_t sampleRaw(std::span<const std::uint8_t> data, int channel, int type, int wordsPerRegister) {
    const std::size_t offset = static_cast<std::size_t>(channel) * 2 * static_cast<std::size_t>(wordsPerRegister);
    const std::size_t width = TypeWords(type) >= 2 ? 4 : 2;
    std::uint32_t raw = 0;
    for (std::size_t b = 0; b < width && offset + b < data.size(); ++b)
        raw |= static_cast<std::uint32_t>(data[offset + b]) << (8 * b);
    return raw;
}

double sampleNumber(int type, std::uint32_t raw) {
    const auto s16 = static_cast<std::int16_t>(raw & 0xFFFF);
    const auto s32 = static_cast<std::int32_t>(raw);
    switch (type) {
        case Int16: return s16;
        case Uint16: case Version: return raw & 0xFFFF;
        case Int32: return s32;
        case Uint32: return raw;
        case Fixed4: return s16 / 4096.0;
        case Fixed8: return s16 / 256.0;
        case Fixed16: return s32 / 65536.0;
        case Fixed24: return s32 / 256.0;
        default: return std::numeric_limits<double>::quiet_NaN();
    }
}

std::array<ScopeChannel, kScopeChannels> ScopeChannelsFor(const Definitions& defs,
                                                         const std::array<std::uint32_t, kScopeChannels>& selectors) {
    std::array<ScopeChannel, kScopeChannels> out;
    for (int c = 0; c < kScopeChannels; ++c) {
        auto& ch = out[static_cast<std::size_t>(c)];
        ch.name = std::to_string(c + 1);
        const int j = defs.findRegisterIndex(static_cast<int>(selectors[static_cast<std::size_t>(c)] & 0xFFFF));
        if (j < 0) continue;
        const RegisterDef& def = defs.registerTable[static_cast<std::size_t>(j)];
        ch.name = util::TrimRight(def.name);
        ch.type = def.type;
    }
    return out;
}

ScopeRow ScopeRecording::makeRow(double seconds, std::span<const std::uint8_t> payload) const {
    ScopeRow row;
    row.seconds = seconds;
    for (int c = 0; c < kScopeChannels; ++c) {
        const int type = channels[static_cast<std::size_t>(c)].type;
        row.values[static_cast<std::size_t>(c)] = sampleNumber(type, sampleRaw(payload, c, type, wordsPerRegister));
    }
    return row;
}

const ScopeRow& ScopeRecording::addRow(double seconds, std::span<const std::uint8_t> payload) {
    return addRow(makeRow(seconds, payload));
}

const ScopeRow& ScopeRecording::addRow(const ScopeRow& row) {
    rows_.push_back(row);
    return rows_.back();
}

double ScopeRecording::rate() const {
    if (rows_.size() < 2) return 0;
    const double span = rows_.back().seconds - rows_.front().seconds;
    return span > 0 ? static_cast<double>(rows_.size() - 1) / span : 0;
}

std::string ScopeNumber(double value) {
    if (std::isnan(value)) return {};
    return util::ShortestText(value);
}

namespace {

// A CSV field: quoted when it holds a separator, a quote or a line break.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

}  // namespace

void ScopeRecording::writeCsvHeader(std::ostream& out) const {
    out << "time_s";
    for (const auto& ch : channels) out << ',' << CsvField(ch.name);
    out << '\n';
}

void ScopeRecording::writeCsvRow(std::ostream& out, const ScopeRow& row) {
    out << util::FixedText(row.seconds, 6);
    for (double v : row.values) out << ',' << ScopeNumber(v);
    out << '\n';
}

void ScopeRecording::writeCsv(std::ostream& out) const {
    writeCsvHeader(out);
    for (const auto& row : rows_) writeCsvRow(out, row);
}

std::chrono::milliseconds SampleLoop::untilDue(Clock::time_point now) const {
    if (due(now)) return std::chrono::milliseconds(0);
    return std::chrono::ceil<std::chrono::milliseconds>(deadline_ - now);
}

void SampleLoop::sent(Clock::time_point now) {
    if (waiting_) ++timeouts;  // the last request got no reply in time
    waiting_ = true;
    deadline_ = now + std::chrono::milliseconds(kReplyTimeoutMs);
    ++requests;
}

void SampleLoop::replied(Clock::time_point now) {
    waiting_ = false;
    if (replies == 0) firstReply_ = now;
    lastReply_ = now;
    ++replies;
}

double SampleLoop::rate() const {
    const double span = std::chrono::duration<double>(lastReply_ - firstReply_).count();
    return replies >= 2 && span > 0 ? static_cast<double>(replies - 1) / span : 0;
}

void AloneRows::close(const Heard& heard) {
    if (!current_.open) return;
    const std::uint64_t frames = heard.frames - current_.start.frames;
    const std::uint64_t stray = heard.stray() - current_.start.stray();
    // No more than one reply and nothing stray: nothing here speaks against the row before.
    const bool quiet = stray == 0 && frames <= 1;
    if (held_) {
        if (quiet)
            taken_.push_back(*held_);
        else
            ++dropped_;
        held_.reset();
    }
    if (current_.row) {
        if (quiet && frames == 1)
            held_ = current_.row;
        else
            ++dropped_;
    }
    current_ = {};
}

void AloneRows::sent(const Heard& heard) {
    close(heard);
    current_.start = heard;
    current_.open = true;
}

void AloneRows::replied(const ScopeRow& row) {
    if (!current_.open || current_.row) {
        ++dropped_;  // a second reply to one request: the window will fail as well
        return;
    }
    current_.row = row;
}

void AloneRows::finish(const Heard& heard) {
    close(heard);
    // The quiet time after the run stands for the window after the last row.
    if (held_) taken_.push_back(*held_);
    held_.reset();
}

std::vector<ScopeRow> AloneRows::take() { return std::exchange(taken_, {}); }

}  // namespace vindelor::registers
