#include "sim/Faults.h"

#include <charconv>
#include <cstdio>
#include <string_view>

#include "util/Number.h"

namespace vindelor::sim {

namespace {

constexpr int kMaxNoiseBytes = 4;
constexpr std::uint64_t kInputStream = 0x9E3779B97F4A7C15ULL;  // keeps the two generators apart

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
        double* probability = name == "drop"    ? &s.drop
                              : name == "flip"  ? &s.flip
                              : name == "cut"   ? &s.cut
                              : name == "noise" ? &s.noise
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
            error = Quoted("unknown fault ", name, " (drop, flip, cut, delay, noise, unplug)");
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
    if (s.unplugSeconds > 0) text += ",unplug=" + util::ShortestText(s.unplugSeconds);
    return text + " seed " + std::to_string(s.seed);
}

FaultInjector::FaultInjector(const FaultSettings& settings)
    : settings_(settings), output_(settings.seed), input_(settings.seed ^ kInputStream) {}

bool FaultInjector::Chance(std::mt19937_64& rng, double p) {
    if (p <= 0) return false;
    // 53 random bits as a number in [0, 1): the same on every platform, unlike the standard
    // distributions.
    const double u = static_cast<double>(rng() >> 11) * 0x1.0p-53;
    return u < p;
}

std::uint64_t FaultInjector::Below(std::mt19937_64& rng, std::uint64_t n) {
    return n == 0 ? 0 : rng() % n;
}

std::vector<std::uint8_t> FaultInjector::onOutput(const std::vector<std::uint8_t>& reply,
                                                  int& extraDelayMs) {
    extraDelayMs = Chance(output_, settings_.delay) ? settings_.delayMs : 0;
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

std::optional<std::uint8_t> FaultInjector::onInput(std::uint8_t byte) {
    if (Chance(input_, settings_.drop)) return std::nullopt;
    if (Chance(input_, settings_.flip))
        byte = static_cast<std::uint8_t>(byte ^ (1u << Below(input_, 8)));
    return byte;
}

}  // namespace vindelor::sim
