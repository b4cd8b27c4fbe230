#include "protocol/TraceFramer.h"

#include <cstdio>

namespace vindelor::protocol {

namespace {

enum class Fit { Frame, More, None };
struct Match {
    Fit fit = Fit::None;
    std::size_t length = 0;
};

constexpr std::uint8_t kTrailerByte = 0xAA;
constexpr std::size_t kMaxPairs = 300;         // longer than any register-protocol frame
constexpr std::uint8_t kBootFirst = 0xA0;      // bootloader frames start with 0xA0 + command
constexpr std::size_t kMaxBootData = 15;       // the count of a bootloader frame is 0..15
constexpr std::uint8_t kDownloadLetter = 'f';  // "fff": a large motor asks for its firmware

constexpr std::uint8_t kPollLetter = ' ';  // the module text poll's letter is the blank

bool IsLetter(std::uint8_t b) { return b >= kPollLetter && b < 0x7F; }

// The letter three times, complemented pairs (the first one the destination) and 0xAA 0xAA
// where the next pair would begin. A pair can never be 0xAA 0xAA, so the end is unambiguous.
Match MatchRegisterFrame(TraceDirection direction, std::span<const std::uint8_t> b) {
    if (b.empty() || !IsLetter(b[0])) return {};
    for (std::size_t i = 1; i < 3; ++i) {
        if (i >= b.size()) return {Fit::More, 0};
        if (b[i] != b[0]) return {};
    }
    if (direction == TraceDirection::Rx && b[0] == kDownloadLetter) return {Fit::Frame, 3};
    std::size_t pairs = 0;
    for (std::size_t i = 3;; i += 2) {
        if (i + 1 >= b.size()) return {Fit::More, 0};
        if (pairs > 0 && b[i] == kTrailerByte && b[i + 1] == kTrailerByte) return {Fit::Frame, i + 2};
        if (b[i + 1] != static_cast<std::uint8_t>(b[i] ^ 0xFF)) return {};
        if (++pairs > kMaxPairs) return {};
    }
}

std::size_t BootCount(TraceDirection direction, std::uint8_t countByte) {
    // A reply's count is its low four bits; the tool sends its count whole.
    return direction == TraceDirection::Rx ? (countByte & 0x0Fu) : countByte;
}

Match MatchBootFrame(TraceDirection direction, std::span<const std::uint8_t> b) {
    if (b.empty() || (b[0] & 0xF0) != kBootFirst) return {};
    if (b.size() < 2) return {Fit::More, 0};
    const std::size_t n = BootCount(direction, b[1]);
    if (n > kMaxBootData) return {};
    const std::size_t total = n + 3;
    if (b.size() < total) return {Fit::More, 0};
    unsigned sum = b[0] + static_cast<unsigned>(n);
    for (std::size_t i = 2; i < total; ++i) sum += b[i];
    return (sum & 0xFF) == 0 ? Match {Fit::Frame, total} : Match {};
}

Match MatchFrame(TraceDirection direction, std::span<const std::uint8_t> b) {
    const Match r = MatchRegisterFrame(direction, b);
    const Match boot = MatchBootFrame(direction, b);
    if (r.fit == Fit::Frame) return r;
    if (boot.fit == Fit::Frame) return boot;
    if (r.fit == Fit::More || boot.fit == Fit::More) return {Fit::More, 0};
    return {};
}

std::string Format(const char* format, auto... args) {
    char text[160];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

std::string Count(std::size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

// Little-endian, past four bytes the bytes add in again at their place modulo four (as the
// receive thread assembles a register value).
std::uint32_t LittleEndian(const std::vector<std::uint8_t>& v, std::size_t from) {
    std::uint32_t value = 0;
    for (std::size_t i = from; i < v.size(); ++i) value += static_cast<std::uint32_t>(v[i]) << (8 * ((i - from) % 4));
    return value;
}

const char* CommandName(std::uint8_t letter) {
    switch (letter) {
        case 'S': return "sample request";
        case 'W': return "software reset";
        case 'V': return "write to flash";
        case 'T': return "enter safe mode";
        case 'U': return "exit safe mode";
        case kPollLetter: return "text poll";
        default: return nullptr;
    }
}

std::string Letter(std::uint8_t letter) { return Format("'%c'", letter); }

std::string DescribeRequest(std::uint8_t letter, const std::vector<std::uint8_t>& v) {
    const int dest = v[0];
    if (letter == 'P' && v.size() == 2) return Format("read request reg 0x%02X dest %d", v[1], dest);
    if (letter == 'R' && v.size() >= 3)
        return Format("write request reg 0x%02X = %u (%s) dest %d", v[1], LittleEndian(v, 3), Count(v.size() - 3).c_str(),
                      dest);
    if (letter == 'Y' && v.size() >= 4)
        return Format("group write reg 0x%02X = %u (%s) group %d seq %d", v[2], LittleEndian(v, 4),
                      Count(v.size() - 4).c_str(), dest, v[1]);
    if (v.size() == 1) {
        if (const char* name = CommandName(letter)) return Format("%s dest %d", name, dest);
        return Format("command %s dest %d", Letter(letter).c_str(), dest);
    }
    return Format("request %s dest %d, %s", Letter(letter).c_str(), dest, Count(v.size() - 1).c_str());
}

std::string DescribeReply(std::uint8_t letter, const std::vector<std::uint8_t>& v) {
    std::string text;
    const std::size_t data = v.size() > 2 ? v.size() - 2 : 0;  // after destination and length
    switch (letter) {
        case 'R':
            if (v.size() >= 2 && v[1] == 0)
                text = "register reply 0x00";
            else if (v.size() >= 3)
                text = Format("register reply 0x%02X = %u", v[1], LittleEndian(v, 3));
            break;
        case '[':
            if (v.size() >= 3) text = Format("module register reply 0x%02X = %u", v[1], LittleEndian(v, 3));
            break;
        case 'S': text = "sample reply " + Count(data); break;
        case '0': text = "debug info reply " + Count(v.size() - 1); break;
        case '@': text = "fieldbus data reply " + Count(data); break;
        case 'C': text = "debug data reply " + Count(data); break;
        case 'a': text = "module info reply " + Count(data); break;
        case 'X': text = "module status reply " + Count(data); break;
        case kPollLetter: text = "text poll reply " + Count(data); break;
        default: break;
    }
    if (text.empty()) text = Format("reply %s, %s", Letter(letter).c_str(), Count(v.size() - 1).c_str());
    if (v[0] != 0) text += Format(" dest %d", v[0]);
    return text;
}

std::string DescribeBoot(TraceDirection direction, std::span<const std::uint8_t> b) {
    const int command = b[0] - kBootFirst;
    const std::size_t n = BootCount(direction, b[1]);
    if (direction == TraceDirection::Tx) return Format("bootloader command %d, %s", command, Count(n).c_str());
    if (n == 0) return Format("bootloader reply %d", command);
    return Format("bootloader reply %d status %d", command, b[2]);
}

}  // namespace

const char* TraceDirectionName(TraceDirection direction) { return direction == TraceDirection::Tx ? "TX" : "RX"; }

std::string DescribeTraceFrame(TraceDirection direction, std::span<const std::uint8_t> bytes) {
    const Match boot = MatchBootFrame(direction, bytes);
    const Match reg = MatchRegisterFrame(direction, bytes);
    if (reg.fit == Fit::Frame && reg.length == bytes.size()) {
        const std::uint8_t letter = bytes[0];
        if (bytes.size() == 3) return "download request";
        std::vector<std::uint8_t> values;  // the first byte of every pair before the trailer
        for (std::size_t i = 3; i + 2 < bytes.size(); i += 2) values.push_back(bytes[i]);
        return direction == TraceDirection::Tx ? DescribeRequest(letter, values) : DescribeReply(letter, values);
    }
    if (boot.fit == Fit::Frame && boot.length == bytes.size()) return DescribeBoot(direction, bytes);
    return (direction == TraceDirection::Rx ? "noise " : "data ") + Count(bytes.size());
}

void TraceFramer::add(std::int64_t micros, std::span<const std::uint8_t> bytes, std::vector<TraceFrame>& out) {
    if (!idle() && micros - lastMicros_ > kGapMicros) flush(out);
    lastMicros_ = micros;
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    times_.insert(times_.end(), bytes.size(), micros);
    scan(false, out);
}

void TraceFramer::flush(std::vector<TraceFrame>& out) { scan(true, out); }

void TraceFramer::scan(bool final, std::vector<TraceFrame>& out) {
    std::size_t pos = 0;
    while (pos < pending_.size()) {
        const std::span<const std::uint8_t> rest(pending_.data() + pos, pending_.size() - pos);
        const Match m = MatchFrame(direction_, rest);
        if (m.fit == Fit::Frame) {
            emitNoise(out);
            emitFrame({rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(m.length)}, times_[pos], out);
            pos += m.length;
            continue;
        }
        if (m.fit == Fit::More && !final) break;
        if (noise_.empty()) noiseTime_ = times_[pos];
        noise_.push_back(pending_[pos++]);
        if (noise_.size() >= kMaxNoiseLine) emitNoise(out);
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pos));
    times_.erase(times_.begin(), times_.begin() + static_cast<std::ptrdiff_t>(pos));
    if (final) emitNoise(out);
}

void TraceFramer::emitFrame(std::vector<std::uint8_t> bytes, std::int64_t micros, std::vector<TraceFrame>& out) {
    TraceFrame f;
    f.micros = micros;
    f.direction = direction_;
    f.text = DescribeTraceFrame(direction_, bytes);
    f.bytes = std::move(bytes);
    out.push_back(std::move(f));
}

void TraceFramer::emitNoise(std::vector<TraceFrame>& out) {
    if (noise_.empty()) return;
    emitFrame(std::move(noise_), noiseTime_, out);
    noise_.clear();
}

}  // namespace vindelor::protocol
