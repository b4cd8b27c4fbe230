#include "app/Cp1252.h"

#include "util/Cp1252.h"

namespace vindelor::app {

QString FromCp1252(std::string_view text) {
    QString out;
    out.reserve(static_cast<qsizetype>(text.size()));
    for (char c : text)
        out.append(
            QChar(static_cast<char16_t>(util::Cp1252ToUnicode(static_cast<unsigned char>(c)))));
    return out;
}

std::string ToCp1252(const QString& text) {
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    for (QChar qc : text) {
        const auto byte = util::UnicodeToCp1252(qc.unicode());
        out.push_back(byte ? static_cast<char>(*byte) : '?');
    }
    return out;
}

}  // namespace vindelor::app
