#include "sim/Faults.h"

#include <charconv>
#include <cstdio>
#include <string_view>
#include <utility>

#include "util/Number.h"

namespace vindelor::sim {

namespace {

constexpr int kMaxNoiseBytes = 4;
constexpr int kMaxGarbageBytes = 8;
constexpr int kMaxCopyGapMs = 15;     // double: the copy follows this long after at most
constexpr int kMaxTwinOffsetMs = 15;  // twin: its start that far from the reply's at most
constexpr int kMinSplitPauseMs = 80;  // split: around the tool's 100 ms between two bytes
constexpr int kMaxSplitPauseMs = 120;
// Keep the generators apart.
constexpr std::uint64_t kInputStream = 0x9E3779B97F4A7C15ULL;
constexpr std::uint64_t kReplyStream = 0xD1B54A32D192ED03ULL;
constexpr std::uint8_t kRegisterTrailer = 0xAA;
constexpr std::uint8_t kBootHeaderFirst = 0xA0, kBootHeaderLast = 0xAF;
constexpr std::size_t kBootFrameOverhead = 3;  // header, count, checksum

bool Chance(std::mt19937_64& rng, double p) {
    if (p <= 0) return false;
    // 53 random bits as a number in [0, 1): the same on every platform, unlike the standard
    // distributions.
    const double u = static_cast<double>(rng() >> 11) * 0x1.0p-53;
    return u < p;
}

std::uint64_t Below(std::mt19937_64& rng, std::uint64_t n) {
    return n == 0 ? 0 : rng() % n;
}

std::uint8_t NonZeroMask(std::mt19937_64& rng) {
    return static_cast<std::uint8_t>(1 + Below(rng, 255));
}

// The end of the register frame that starts at `at` (a letter three times, complemented body
// pairs, AA AA), or 0 when none starts there; lastPair is where its last body pair is.
std::size_t RegisterFrameEnd(const std::vector<std::uint8_t>& r, std::size_t at,
                             std::size_t& lastPair) {
    if (at + 3 > r.size() || r[at] != r[at + 1] || r[at] != r[at + 2]) return 0;
    std::size_t i = at + 3;
    lastPair = 0;
    for (; i + 1 < r.size() && (r[i] ^ r[i + 1]) == 0xFF; i += 2) lastPair = i;
    if (lastPair == 0 || i + 1 >= r.size() || r[i] != kRegisterTrailer ||
        r[i + 1] != kRegisterTrailer)
        return 0;
    return i + 2;
}

// The length of the bootloader frame at `at` (header, count, data, a checksum that makes the
// sum 0), or 0 when none is there.
std::size_t BootFrameLength(const std::vector<std::uint8_t>& r, std::size_t at) {
    if (at + kBootFrameOverhead > r.size() || r[at] < kBootHeaderFirst || r[at] > kBootHeaderLast)
        return 0;
    const std::size_t length = kBootFrameOverhead + (r[at + 1] & 0x0F);
    if (at + length > r.size()) return 0;
    unsigned sum = 0;
    for (std::size_t i = at; i < at + length; ++i) sum += r[i];
    return (sum & 0xFF) == 0 ? length : 0;
}

// Another value in the data byte at `at` of the bootloader frame at `frame`, its checksum made
// right again.
void AlterBootData(std::vector<std::uint8_t>& r, std::size_t frame, std::size_t at,
                   std::mt19937_64& rng) {
    const std::size_t checksum = frame + BootFrameLength(r, frame) - 1;
    const std::uint8_t old = r[at];
    r[at] = static_cast<std::uint8_t>(old ^ NonZeroMask(rng));
    r[checksum] = static_cast<std::uint8_t>(r[checksum] + old - r[at]);
}

std::optional<double> ReadNumber(std::string_view text) {
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> ReadProbability(std::string_view text) {
    const auto p = ReadNumber(text);
    if (!p || !(*p >= 0 && *p <= 1)) return std::nullopt;
    return p;
}

// before"text"after, built by appending: GCC 12 at -O3 takes the chained + of a one-character
// literal and a string for an overlapping copy and warns.
std::string Quoted(std::string_view before, std::string_view text, std::string_view after) {
    std::string out(before);
    out += '"';
    out.append(text);
    out += '"';
    out.append(after);
    return out;
}

}  // namespace

std::optional<FaultSettings> ParseFaults(const std::string& text, std::string& error) {
    FaultSettings s;
    std::string_view rest = text;
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        const auto eq = item.find('=');
        if (eq == std::string_view::npos) {
            error = Quoted("", item, " is not NAME=VALUE");
            return std::nullopt;
        }
        const std::string_view name = item.substr(0, eq);
        const std::string_view value = item.substr(eq + 1);
        const auto bad = [&](const char* what) {
            std::string head(name);
            head += ": ";
            error = Quoted(head, value, " is not ");
            error += what;
            return std::nullopt;
        };
        double* probability = name == "drop"      ? &s.drop
                              : name == "flip"    ? &s.flip
                              : name == "cut"     ? &s.cut
                              : name == "noise"   ? &s.noise
                              : name == "dup"     ? &s.dup
                              : name == "double"  ? &s.twice
                              : name == "twin"    ? &s.twin
                              : name == "other"   ? &s.other
                              : name == "stale"   ? &s.stale
                              : name == "garbage" ? &s.garbage
                              : name == "split"   ? &s.split
                                                  : nullptr;
        if (probability) {
            const auto p = ReadProbability(value);
            if (!p) return bad("a probability from 0 to 1");
            *probability = *p;
        } else if (name == "delay") {
            const auto at = value.find('@');
            const auto ms =
                at == std::string_view::npos ? std::nullopt : ReadNumber(value.substr(0, at));
            const auto p =
                at == std::string_view::npos ? std::nullopt : ReadProbability(value.substr(at + 1));
            if (!ms || !p || *ms < 0 || *ms > 600000)
                return bad("MS@P (milliseconds up to 600000, P from 0 to 1)");
            s.delayMs = static_cast<int>(*ms);
            s.delay = *p;
        } else if (name == "unplug") {
            const auto seconds = ReadNumber(value);
            if (!seconds || !(*seconds > 0 && *seconds < 1e6))
                return bad("a number of seconds above 0");
            s.unplugSeconds = *seconds;
        } else {
            error =
                Quoted("unknown fault ", name,
                       " (drop, flip, cut, delay, noise, dup, double, twin, other, stale, garbage, "
                       "split, unplug)");
            return std::nullopt;
        }
    }
    return s;
}

std::string FaultText(const FaultSettings& s) {
    std::string text = "drop=" + util::ShortestText(s.drop) +
                       ",flip=" + util::ShortestText(s.flip) + ",cut=" + util::ShortestText(s.cut) +
                       ",delay=" + std::to_string(s.delayMs) + "@" + util::ShortestText(s.delay) +
                       ",noise=" + util::ShortestText(s.noise);
    // The kinds added later only when set, so that a log of the others reads as it always did.
    const std::pair<const char*, double> later[] = {
        {"dup", s.dup},     {"double", s.twice},    {"twin", s.twin},  {"other", s.other},
        {"stale", s.stale}, {"garbage", s.garbage}, {"split", s.split}};
    for (const auto& [name, p] : later)
        if (p > 0) text += std::string(",") + name + "=" + util::ShortestText(p);
    if (s.unplugSeconds > 0) text += ",unplug=" + util::ShortestText(s.unplugSeconds);
    return text + " seed " + std::to_string(s.seed);
}

std::vector<std::uint8_t> OutputPlan::bytes() const {
    std::vector<std::uint8_t> all;
    for (const auto& piece : pieces) all.insert(all.end(), piece.bytes.begin(), piece.bytes.end());
    return all;
}

std::vector<std::uint8_t> WithOtherData(const std::vector<std::uint8_t>& reply,
                                        std::mt19937_64& rng) {
    std::vector<std::uint8_t> r = reply;
    if (r.empty()) return r;
    // Bootloader frames from the first byte on.
    std::size_t end = 0;
    std::size_t withData = r.size();
    while (end < r.size()) {
        const std::size_t length = BootFrameLength(r, end);
        if (length == 0) break;
        if (withData == r.size() && length > kBootFrameOverhead) withData = end;
        end += length;
    }
    if (end == r.size() && withData < r.size()) {
        const std::size_t count = r[withData + 1] & 0x0F;
        AlterBootData(r, withData, withData + 2 + Below(rng, count), rng);
        return r;
    }
    const std::size_t first = BootFrameLength(r, 0);
    if (first == kBootFrameOverhead && end < r.size()) {
        // A frame without data and raw data after it (a flash read), maybe a status frame at
        // the end: another raw byte.
        std::size_t rawEnd = r.size();
        for (std::size_t length = kBootFrameOverhead; length <= kBootFrameOverhead + 0x0F;
             ++length) {
            if (r.size() >= first + length + 1 && BootFrameLength(r, r.size() - length) == length) {
                rawEnd = r.size() - length;
                break;
            }
        }
        if (rawEnd > first) {
            r[first + Below(rng, rawEnd - first)] ^= NonZeroMask(rng);
            return r;
        }
    }
    // A register frame wherever it starts: another value in its last body pair.
    if (first == 0) {
        for (std::size_t at = 0; at < r.size(); ++at) {
            std::size_t pair = 0;
            if (RegisterFrameEnd(r, at, pair) == 0) continue;
            r[pair] = static_cast<std::uint8_t>(r[pair] ^ NonZeroMask(rng));
            r[pair + 1] = static_cast<std::uint8_t>(r[pair] ^ 0xFF);
            return r;
        }
    }
    r[Below(rng, r.size())] ^= static_cast<std::uint8_t>(1u << Below(rng, 8));
    return r;
}

FaultInjector::FaultInjector(const FaultSettings& settings)
    : settings_(settings),
      output_(settings.seed),
      input_(settings.seed ^ kInputStream),
      replies_(settings.seed ^ kReplyStream) {}

std::vector<std::uint8_t> FaultInjector::lineFaults(const std::vector<std::uint8_t>& reply,
                                                    int& delayMs) {
    delayMs = Chance(output_, settings_.delay) ? settings_.delayMs : 0;
    std::vector<std::uint8_t> out;
    out.reserve(reply.size() + kMaxNoiseBytes);
    if (Chance(output_, settings_.noise)) {
        const auto count = 1 + Below(output_, kMaxNoiseBytes);
        for (std::uint64_t i = 0; i < count; ++i)
            out.push_back(static_cast<std::uint8_t>(output_()));
    }
    std::size_t length = reply.size();
    if (!reply.empty() && Chance(output_, settings_.cut))
        length = static_cast<std::size_t>(Below(output_, reply.size()));
    for (std::size_t i = 0; i < length; ++i) {
        if (Chance(output_, settings_.drop)) continue;
        std::uint8_t b = reply[i];
        if (Chance(output_, settings_.flip))
            b = static_cast<std::uint8_t>(b ^ (1u << Below(output_, 8)));
        out.push_back(b);
    }
    return out;
}

OutputPlan FaultInjector::onOutput(const std::vector<std::uint8_t>& generated) {
    // other: what the device made before this one, decided before the line touches either.
    std::vector<std::uint8_t> reply = generated;
    if (settings_.other > 0 && !generated.empty()) {
        auto& last = lastOfLength_[generated.size()];
        if (Chance(replies_, settings_.other) && !last.empty() && last != generated) reply = last;
        last = generated;
    }
    OutputPlan plan;
    std::vector<std::uint8_t> out = lineFaults(reply, plan.delayMs);
    if (settings_.dup > 0) {
        std::vector<std::uint8_t> doubled;
        doubled.reserve(out.size() * 2);
        for (const std::uint8_t b : out) {
            doubled.push_back(b);
            if (Chance(replies_, settings_.dup)) doubled.push_back(b);
        }
        out = std::move(doubled);
    }
    if (Chance(replies_, settings_.garbage)) {
        const auto count = 1 + Below(replies_, kMaxGarbageBytes);
        for (std::uint64_t i = 0; i < count; ++i)
            out.push_back(static_cast<std::uint8_t>(replies_()));
    }
    plan.pieces.push_back({std::move(out), 0, 0});
    if (Chance(replies_, settings_.split) && plan.pieces[0].bytes.size() >= 2) {
        auto& whole = plan.pieces[0].bytes;
        const auto at = static_cast<std::ptrdiff_t>(1 + Below(replies_, whole.size() - 1));
        const int pause =
            kMinSplitPauseMs +
            static_cast<int>(Below(replies_, kMaxSplitPauseMs - kMinSplitPauseMs + 1));
        OutputPiece rest{{whole.begin() + at, whole.end()}, pause, 0};
        whole.erase(whole.begin() + at, whole.end());
        plan.pieces.push_back(std::move(rest));
    }
    if (Chance(replies_, settings_.twice)) {
        std::vector<OutputPiece> copy = plan.pieces;
        copy.front().gapMs = static_cast<int>(Below(replies_, kMaxCopyGapMs + 1));
        plan.pieces.insert(plan.pieces.end(), copy.begin(), copy.end());
    }
    if (Chance(replies_, settings_.twin)) {
        // Start to start; whichever starts second waits for the line to be free.
        const int offset = 1 + static_cast<int>(Below(replies_, kMaxTwinOffsetMs));
        const bool first = Below(replies_, 2) == 0;
        OutputPiece twin{WithOtherData(reply, replies_), 0, 0};
        if (first) {
            plan.pieces.front().startMs = offset;
            plan.pieces.insert(plan.pieces.begin(), std::move(twin));
        } else {
            twin.startMs = offset;
            plan.pieces.push_back(std::move(twin));
        }
    }
    if (Chance(replies_, settings_.stale) && !held_) {
        held_ = std::move(plan);
        return {};
    }
    return plan;
}

std::optional<std::uint8_t> FaultInjector::onInput(std::uint8_t byte) {
    if (Chance(input_, settings_.drop)) return std::nullopt;
    if (Chance(input_, settings_.flip))
        byte = static_cast<std::uint8_t>(byte ^ (1u << Below(input_, 8)));
    return byte;
}

std::optional<OutputPlan> FaultInjector::takeHeld() {
    return std::exchange(held_, std::nullopt);
}

}  // namespace vindelor::sim
