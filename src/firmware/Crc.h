#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vindelor::firmware {

// CRC-16/XMODEM: polynomial 0x1021, initial value 0, no reflection, no final XOR. The check of
// every image record and of the data blocks sent to the bootloaders. Because record checks are
// stored high byte first, the CRC over a record including its check is 0 when it is intact.
std::uint16_t Crc16(const std::uint8_t* bytes, std::size_t count);
inline std::uint16_t Crc16(std::span<const std::uint8_t> bytes) {
    return Crc16(bytes.data(), bytes.size());
}

// CRC-32/ISO-HDLC (the zlib and Ethernet CRC): reflected polynomial 0x04C11DB7, initial value
// and final XOR 0xFFFFFFFF. Crc32 of no bytes is 0.
std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t count);
inline std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
    return Crc32(bytes.data(), bytes.size());
}

// Makes sure the table Crc32 uses is built. The table is built once per process, on first use,
// and never written again, so loaders on several threads may call this and Crc32 freely; every
// loader constructor still calls it, which keeps the first use off the transfer path.
void BuildCrc32Table();

// The 256-entry tables themselves (for tests and tools).
const std::array<std::uint16_t, 256>& Crc16Table();
const std::array<std::uint32_t, 256>& Crc32Table();

// The low `width` bits of `value` in reverse order (width 1..32; bits above it are dropped).
std::uint32_t ReverseBits(std::uint32_t value, int width);

}  // namespace vindelor::firmware
