#pragma once

#include <cstdint>
#include <string>

namespace vindelor::protocol {

// One byte as shown in the traffic memos: "<%02X>".
std::string ByteText(std::uint8_t b);

// "0b" and the low bits of value, most significant first, with a "'" between groups of four.
std::string BinaryText(std::uint32_t value, int bits);

// The text of an address or group box as a decimal number; 0 when it is not one.
int DecimalOrZero(const std::string& text);

}  // namespace vindelor::protocol
