#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/Notifier.h"
#include "protocol/Sender.h"

namespace vindelor::registers {

// Value type codes of the register definitions.
enum ValueType : int {
    Dummy = 0,
    Int16 = 1,
    Uint16 = 2,
    Int32 = 3,
    Fixed4 = 4,
    Fixed8 = 5,
    Uint32 = 6,
    Fixed16 = 7,
    Fixed24 = 8,
    Version = 9,
};
constexpr int kValueTypeCount = 10;

// The keyword of the alternative definition format ("int16", ...); empty for unknown codes.
const char* TypeKeyword(int type);
// The name printed in the register list ("Integer", ...); empty for the placeholder.
const char* TypeDisplayName(int type);
// Width in 16-bit words (0 for the placeholder).
int TypeWords(int type);
// The code for a keyword, compared without case; nothing when unknown.
std::optional<int> TypeFromKeyword(const std::string& keyword);

// The value column of a register list line.
std::string valueText(int type, std::uint32_t raw);
// The value column while "Hex view" is on: the two words at the register number as one number.
std::string hexValueText(std::uint32_t twoWordRaw);
// A version word: major and minor number, " Beta" when flagged.
std::string versionText(std::uint16_t w);
// One cell of the sample table.
std::string sampleText(int type, std::uint32_t raw);
// Text typed by the user as the raw value to write; nothing when it does not convert or the
// type takes no typed value (placeholder, version).
std::optional<std::int32_t> parseValue(int type, const std::string& text);
// Rounds half away from zero; results beyond 32 bits saturate.
std::int32_t roundHalfAway(double x);

// The register write with a 16-bit range warning. The write goes ahead after the warning.
void writeRegisterChecked(protocol::Sender& sender, protocol::Notifier& notifier, int number,
                          std::int32_t value, bool wide);

}  // namespace vindelor::registers
