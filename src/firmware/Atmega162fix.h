#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vindelor::firmware {

// Devices of the newer hardware revision expect the start of the flash block at address 0 laid
// out differently: read as 4-byte entries, entries 21..26 move to slots 4..9 and entries 4..20
// to slots 10..26; bytes 0..15 and 108..127 stay. Works in place on the first 128 bytes.
// Returns false, and leaves the block untouched, when it is shorter than 128 bytes.
bool FixAtmega162Block(std::span<std::uint8_t> block);

// The whole change the loader makes to the payload of that flash block: the rearrangement
// above, 2 added to the 16-bit big-endian value at offsets 130..131, and the block's trailing
// check (Crc16 of all but the last two bytes, high byte first) computed again. Returns false,
// and leaves the payload untouched, when it is too short to hold offsets 130..131.
bool PatchAtmega162Payload(std::span<std::uint8_t> payload);

}  // namespace vindelor::firmware
