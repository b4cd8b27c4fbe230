#include "util/Json.h"

#include <cmath>
#include <cstdio>

#include "util/Cp1252.h"
#include "util/Number.h"

namespace vindelor::util {

namespace {

void AppendEscaped(std::string& out, char32_t c) {
    switch (c) {
        case '"': out += "\\\""; return;
        case '\\': out += "\\\\"; return;
        case '\n': out += "\\n"; return;
        case '\r': out += "\\r"; return;
        case '\t': out += "\\t"; return;
        default: break;
    }
    // Control characters, C1 ones included, never reach a terminal raw.
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
        char item[8];
        std::snprintf(item, sizeof item, "\\u%04X", static_cast<unsigned>(c));
        out += item;
        return;
    }
    out += Utf8Of(c);
}

}  // namespace

std::string JsonString(std::string_view utf8) {
    std::string out = "\"";
    for (std::size_t at = 0; at < utf8.size();) {
        const auto c = NextUtf8(utf8, at);
        AppendEscaped(out, c ? *c : Cp1252ToUnicode(static_cast<unsigned char>(utf8[at++])));
    }
    return out + "\"";
}

std::string JsonString1252(std::string_view text) {
    std::string out = "\"";
    for (char c : text) AppendEscaped(out, Cp1252ToUnicode(static_cast<unsigned char>(c)));
    return out + "\"";
}

std::string JsonNumber(double value) {
    return std::isfinite(value) ? ShortestText(value) : "null";
}

std::string JsonArray(std::span<const std::string> values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) out += ',';
        out += values[i];
    }
    return out + "]";
}

JsonObject& JsonObject::value(std::string_view key, std::string_view json) {
    if (body_.size() > 1) body_ += ',';
    body_ += JsonString(key);
    body_ += ':';
    body_ += json;
    return *this;
}

}  // namespace vindelor::util
