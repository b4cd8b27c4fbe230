#include "util/Cp1252.h"

#include <array>

namespace vindelor::util {

namespace {

// 0x80 to 0x9F; 0 marks the unused codes.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0000, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x0000, 0x017D, 0x0000, 0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x0000, 0x017E, 0x0178,
};

}  // namespace

char32_t Cp1252ToUnicode(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F && kHigh[byte - 0x80u] != 0) return kHigh[byte - 0x80u];
    return byte;
}

std::optional<unsigned char> UnicodeToCp1252(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<unsigned char>(c);
    for (std::size_t i = 0; i < kHigh.size(); ++i) {
        const char32_t mapped = kHigh[i] != 0 ? kHigh[i] : static_cast<char32_t>(0x80 + i);
        if (mapped == c) return static_cast<unsigned char>(0x80 + i);
    }
    return std::nullopt;
}

std::optional<char32_t> NextUtf8(std::string_view utf8, std::size_t& at) {
    if (at >= utf8.size()) return std::nullopt;
    const auto c = static_cast<unsigned char>(utf8[at]);
    const std::size_t n = c < 0x80             ? 1
                          : (c & 0xE0) == 0xC0 ? 2
                          : (c & 0xF0) == 0xE0 ? 3
                          : (c & 0xF8) == 0xF0 ? 4
                                               : 0;
    if (n == 0 || n > utf8.size() - at) return std::nullopt;
    char32_t code = n == 1 ? c : c & (0x7Fu >> n);
    for (std::size_t j = 1; j < n; ++j) {
        const auto cont = static_cast<unsigned char>(utf8[at + j]);
        if ((cont & 0xC0) != 0x80) return std::nullopt;
        code = (code << 6) | (cont & 0x3Fu);
    }
    // Overlong forms and surrogates are not UTF-8.
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
    at += n;
    return code;
}

std::optional<std::string> Utf8ToCp1252(std::string_view utf8, char32_t* unmapped) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t k = 0; k < utf8.size();) {
        const auto code = NextUtf8(utf8, k);
        if (!code) return std::nullopt;
        const auto byte = UnicodeToCp1252(*code);
        if (!byte) {
            if (unmapped) *unmapped = *code;
            return std::nullopt;
        }
        out.push_back(static_cast<char>(*byte));
    }
    return out;
}

std::string Utf8Of(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

std::string Cp1252ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) out += Utf8Of(Cp1252ToUnicode(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace vindelor::util
