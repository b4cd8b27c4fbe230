#include "firmware/Atmega162fix.h"

#include <algorithm>
#include <array>

#include "firmware/Crc.h"

namespace vindelor::firmware {

bool FixAtmega162Block(std::span<std::uint8_t> block) {
    constexpr std::size_t kSize = 128;
    if (block.size() < kSize) return false;
    std::array<std::uint8_t, kSize> old{};
    std::copy_n(block.begin(), kSize, old.begin());
    std::copy(old.begin() + 84, old.begin() + 108, block.begin() + 16);  // 24 bytes to 16..39
    std::copy(old.begin() + 16, old.begin() + 84, block.begin() + 40);   // 68 bytes to 40..107
    return true;
}

bool PatchAtmega162Payload(std::span<std::uint8_t> payload) {
    if (payload.size() < 132) return false;
    FixAtmega162Block(payload);
    const unsigned word = ((unsigned{payload[130]} << 8) | payload[131]) + 2u;
    payload[130] = static_cast<std::uint8_t>((word >> 8) & 0xFFu);
    payload[131] = static_cast<std::uint8_t>(word & 0xFFu);
    const std::size_t body = payload.size() - 2;
    const std::uint16_t check = Crc16(payload.data(), body);
    payload[body] = static_cast<std::uint8_t>(check >> 8);
    payload[body + 1] = static_cast<std::uint8_t>(check & 0xFFu);
    return true;
}

}  // namespace vindelor::firmware
