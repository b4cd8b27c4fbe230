#include "app/Cp1252.h"

#include <array>

namespace vindelor::app {

namespace {

// 0x80 to 0x9F, where Windows-1252 differs from Latin-1; 0 marks the five unused codes, which
// map to the C1 control of the same number as the system's own conversion does.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0000, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x0000, 0x017D, 0x0000,
    0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x0000, 0x017E, 0x0178,
};

char16_t Decode(unsigned char b) {
    if (b >= 0x80 && b <= 0x9F && kHigh[b - 0x80u] != 0) return kHigh[b - 0x80u];
    return static_cast<char16_t>(b);
}

}  // namespace

QString FromCp1252(std::string_view text) {
    QString out;
    out.reserve(static_cast<qsizetype>(text.size()));
    for (char c : text) out.append(QChar(Decode(static_cast<unsigned char>(c))));
    return out;
}

std::string ToCp1252(const QString& text) {
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    for (QChar qc : text) {
        const char16_t u = qc.unicode();
        char byte = '?';
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            byte = static_cast<char>(u);
        } else {
            for (std::size_t i = 0; i < kHigh.size(); ++i) {
                const char16_t mapped = kHigh[i] != 0 ? kHigh[i] : static_cast<char16_t>(0x80 + i);
                if (mapped == u) {
                    byte = static_cast<char>(0x80 + i);
                    break;
                }
            }
        }
        out.push_back(byte);
    }
    return out;
}

}  // namespace vindelor::app
