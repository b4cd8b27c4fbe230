#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vindelor::util {

// Texts in files and on the wire are 8-bit Windows-1252. Bytes 0x80 to 0x9F differ from
// Latin-1 (the euro sign, typographic quotes and dashes, ...); the five codes it leaves unused
// stand for the C1 control of the same number, as the system's own conversion has it.
char32_t Cp1252ToUnicode(unsigned char byte);
// The byte for a character, if Windows-1252 has one.
std::optional<unsigned char> UnicodeToCp1252(char32_t c);

// The character of the UTF-8 sequence at utf8[at], moving at past it; nothing (at unmoved) for
// a sequence that is not UTF-8 (overlong, a surrogate, cut short) or at the end.
std::optional<char32_t> NextUtf8(std::string_view utf8, std::size_t& at);
// UTF-8 text as Windows-1252 bytes; nothing when the text is not UTF-8 or holds a character
// without a Windows-1252 code (then *unmapped, if given, is that character).
std::optional<std::string> Utf8ToCp1252(std::string_view utf8, char32_t* unmapped = nullptr);
// Windows-1252 bytes as UTF-8 text.
std::string Cp1252ToUtf8(std::string_view text);
// One character as UTF-8.
std::string Utf8Of(char32_t c);

}  // namespace vindelor::util
