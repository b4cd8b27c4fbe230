#include "registers/ValueType.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "util/Number.h"
#include "util/Text.h"

namespace vindelor::registers {

namespace {

using util::Format;
using util::Trimmed;

struct TypeInfo {
    const char* keyword;
    const char* display;
    int words;
};

constexpr TypeInfo kTypes[kValueTypeCount] = {
    {"Dummy", "", 0},          {"int16", "Integer", 1},  {"uint16", "Word", 1},
    {"int32", "Longint", 2},   {"fixed4", "Fixed4", 1},  {"fixed8", "Fixed8", 1},
    {"uint32", "Longword", 2}, {"fixed16", "Fixed16", 2}, {"fixed24", "Fixed24", 2},
    {"version", "Version", 1},
};

bool Known(int type) { return type >= 0 && type < kValueTypeCount; }

std::int16_t S16(std::uint32_t raw) { return static_cast<std::int16_t>(raw & 0xFFFF); }
std::uint16_t U16(std::uint32_t raw) { return static_cast<std::uint16_t>(raw & 0xFFFF); }
std::int32_t S32(std::uint32_t raw) { return static_cast<std::int32_t>(raw); }

// The scaled value of the fixed-point types.
double Fixed(int type, std::uint32_t raw) {
    switch (type) {
        case Fixed4: return S16(raw) / 4096.0;
        case Fixed8: return S16(raw) / 256.0;
        case Fixed16: return S32(raw) / 65536.0;
        default: return S32(raw) / 256.0;  // fixed24
    }
}

std::optional<long long> ParseInteger(const std::string& text) {
    const std::string t(Trimmed(text));
    if (t.empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(t.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return std::nullopt;
    return v;
}

std::optional<double> ParseFloat(const std::string& text) {
    std::string t(Trimmed(text));
    if (t.empty()) return std::nullopt;
    // Engineers type either decimal separator.
    for (char& c : t)
        if (c == ',') c = '.';
    return util::ParseDouble(t);
}

}  // namespace

const char* TypeKeyword(int type) { return Known(type) ? kTypes[type].keyword : ""; }
const char* TypeDisplayName(int type) { return Known(type) ? kTypes[type].display : ""; }
int TypeWords(int type) { return Known(type) ? kTypes[type].words : 0; }

std::optional<int> TypeFromKeyword(const std::string& keyword) {
    for (int t = 0; t < kValueTypeCount; ++t) {
        const std::string_view k = kTypes[t].keyword;
        if (k.size() != keyword.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < k.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(k[i])) ==
                   std::tolower(static_cast<unsigned char>(keyword[i]));
        if (same) return t;
    }
    return std::nullopt;
}

std::string versionText(std::uint16_t w) {
    if (w & 0x8000) {
        const int major = (w & 0x1FFF) >> 6;
        const int minor = w & 0x3F;
        return Format("%11d.%d%-5s ", major, minor, (w & 0x2000) ? " Beta" : "");
    }
    return Format("%11d.%d      ", (w & 0x3FFF) >> 4, w & 0x0F);
}

std::string valueText(int type, std::uint32_t raw) {
    switch (type) {
        case Int16: return Format("%11hi        ", S16(raw));
        case Uint16: return Format("%11hu        ", U16(raw));
        case Int32: return Format("%11i        ", S32(raw));
        case Uint32: return Format("%11u        ", raw);
        case Fixed4: case Fixed8: case Fixed16: case Fixed24: return util::FixedText(Fixed(type, raw), 7, 19);
        case Version: return versionText(U16(raw));
        default: return "          ";
    }
}

std::string hexValueText(std::uint32_t twoWordRaw) { return Format(" 0x%08X        ", twoWordRaw); }

std::string sampleText(int type, std::uint32_t raw) {
    switch (type) {
        case Int16: return Format("%hi", S16(raw));
        case Uint16: return Format("%hu", U16(raw));
        case Int32: return Format("%i", S32(raw));
        case Uint32: return Format("%11u", raw);
        case Fixed4: case Fixed8: case Fixed16: case Fixed24: return util::FixedText(Fixed(type, raw), 7);
        case Version: return std::string(Trimmed(versionText(U16(raw))));
        default: return "          ";
    }
}

std::int32_t roundHalfAway(double x) {
    double r = 0;
    if (x > 0) r = std::trunc(x + 0.5);
    if (x < 0) r = std::trunc(x - 0.5);
    if (std::isnan(r)) return 0;
    if (r >= 2147483647.0) return INT32_MAX;
    if (r <= -2147483648.0) return INT32_MIN;
    return static_cast<std::int32_t>(r);
}

std::optional<std::int32_t> parseValue(int type, const std::string& text) {
    switch (type) {
        case Int16: case Uint16: case Int32: {
            auto v = ParseInteger(text);
            if (!v || *v < INT32_MIN || *v > INT32_MAX) return std::nullopt;
            return static_cast<std::int32_t>(*v);
        }
        case Uint32: {
            auto v = ParseFloat(text);
            if (!v) return std::nullopt;
            const double t = std::trunc(*v);
            // Only the low 32 bits go out; out of the 64-bit range there are none to keep.
            if (t >= 9.2e18 || t <= -9.2e18) return std::nullopt;
            return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<long long>(t)));
        }
        case Fixed4: case Fixed8: case Fixed16: case Fixed24: {
            auto v = ParseFloat(text);
            if (!v) return std::nullopt;
            const double scale = type == Fixed4 ? 4096.0 : type == Fixed16 ? 65536.0 : 256.0;
            return roundHalfAway(*v * scale);
        }
        default:
            return std::nullopt;
    }
}

void writeRegisterChecked(protocol::Sender& sender, protocol::Notifier& notifier, int number,
                          std::int32_t value, bool wide) {
    if (!wide && (value > 32767 || value < -32768))
        notifier.information("Out of range", "The parameter " + std::to_string(number) +
                                                 " is out of range (" + std::to_string(value) + ")");
    sender.SendWriteRequest(static_cast<std::uint8_t>(number & 0xFF), wide ? 2 : 1,
                            static_cast<std::uint32_t>(value));
}

}  // namespace vindelor::registers
