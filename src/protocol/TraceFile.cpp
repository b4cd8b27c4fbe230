#include "protocol/TraceFile.h"

#include <cstdio>
#include <istream>
#include <ostream>

namespace vindelor::protocol {

namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
constexpr std::size_t kPrintBytesPerLine = 16;
constexpr std::string_view kSeparator = " | ";

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A decimal time with exactly six decimals, read without the locale.
bool ParseTime(std::string_view text, std::int64_t& micros) {
    const auto dot = text.find('.');
    if (dot == std::string_view::npos || dot == 0 || text.size() - dot - 1 != 6 || dot > 12) return false;
    std::int64_t value = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == dot) continue;
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    micros = value;
    return true;
}

}  // namespace

std::string FormatTime(std::int64_t micros) {
    if (micros < 0) micros = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%06lld", static_cast<long long>(micros / kMicrosPerSecond),
                  static_cast<long long>(micros % kMicrosPerSecond));
    return text;
}

std::string FormatTraceLine(const TraceFrame& frame) {
    std::string line = FormatTime(frame.micros);
    line += ' ';
    line += TraceDirectionName(frame.direction);
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (std::uint8_t b : frame.bytes) {
        line += ' ';
        line += kHex[b >> 4];
        line += kHex[b & 0x0F];
    }
    line += kSeparator;
    line += frame.text;
    return line;
}

std::optional<TraceFrame> ParseTraceLine(std::string_view line, std::string& error) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const auto sep = line.find(kSeparator);
    if (sep == std::string_view::npos) {
        error = "no \" | \" before the decoding";
        return std::nullopt;
    }
    TraceFrame f;
    f.text = std::string(line.substr(sep + kSeparator.size()));
    std::string_view head = line.substr(0, sep);
    const auto space = head.find(' ');
    if (space == std::string_view::npos || !ParseTime(head.substr(0, space), f.micros)) {
        error = "no time in seconds with six decimals";
        return std::nullopt;
    }
    head.remove_prefix(space + 1);
    if (head.substr(0, 2) == "TX")
        f.direction = TraceDirection::Tx;
    else if (head.substr(0, 2) == "RX")
        f.direction = TraceDirection::Rx;
    else {
        error = "the direction is not TX or RX";
        return std::nullopt;
    }
    head.remove_prefix(2);
    // Then " XX" for every byte, nothing else.
    if (head.empty() || head.size() % 3 != 0) {
        error = "the bytes are not two-digit hex numbers separated by spaces";
        return std::nullopt;
    }
    for (std::size_t i = 0; i < head.size(); i += 3) {
        const int hi = HexDigit(head[i + 1]);
        const int lo = HexDigit(head[i + 2]);
        if (head[i] != ' ' || hi < 0 || lo < 0) {
            error = "the bytes are not two-digit hex numbers separated by spaces";
            return std::nullopt;
        }
        f.bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return f;
}

bool PrintTrace(std::istream& in, std::ostream& out, std::string& error) {
    std::string line;
    int number = 0;
    std::int64_t previous = -1;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#') {
            out << line << "\n";
            continue;
        }
        std::string why;
        auto f = ParseTraceLine(line, why);
        if (!f) {
            error = "line " + std::to_string(number) + ": " + why;
            return false;
        }
        const std::int64_t delta = previous < 0 ? 0 : f->micros - previous;
        previous = f->micros;
        // Lines out of order (possible in a hand-edited file) show a negative step.
        std::string step(1, delta < 0 ? '-' : '+');
        step += FormatTime(delta < 0 ? -delta : delta);
        char head[96];
        std::snprintf(head, sizeof head, "%12s  %11s  %s  ", FormatTime(f->micros).c_str(), step.c_str(),
                      TraceDirectionName(f->direction));
        out << head << DescribeTraceFrame(f->direction, f->bytes) << "\n";
        for (std::size_t i = 0; i < f->bytes.size(); i += kPrintBytesPerLine) {
            std::string hex(std::char_traits<char>::length(head), ' ');
            for (std::size_t j = i; j < f->bytes.size() && j < i + kPrintBytesPerLine; ++j) {
                char item[4];
                std::snprintf(item, sizeof item, "%02X", f->bytes[j]);
                hex += item;
                hex += ' ';
            }
            hex.pop_back();
            out << hex << "\n";
        }
    }
    return true;
}

}  // namespace vindelor::protocol
