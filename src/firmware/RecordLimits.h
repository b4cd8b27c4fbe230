#pragma once

#include <cstdint>
#include <string>

#include "firmware/FirmwareImage.h"

namespace vindelor::firmware {

// What the bootloader's announce frames can carry. A flash record is announced with a 16-bit
// length and a 24-bit address (16-bit in loader mode 1); modes 0 and 3 announce the length less
// the block's own 2-byte check. An EPP record (sent in mode 1 only) has 16 bits for each.
inline constexpr std::uint64_t kAnnounceLengthMax = 0xFFFF;
inline constexpr std::uint64_t kAnnounceAddressMax = 0xFFFFFF;
inline constexpr std::uint64_t kShortAddressMax = 0xFFFF;
inline constexpr std::uint64_t kBlockCheckBytes = 2;

// Why a record of this type, address and length cannot be sent in the loader mode: the text
// says which field its announce cannot carry. Empty when it can, and for records the mode never
// sends (erase and header records, EPP records outside mode 1, other types).
std::string RecordFrameProblem(std::uint16_t type, std::uint64_t address, std::uint64_t length,
                               int loaderMode);

// The first record of the image that its loader mode cannot send, as "Record at offset 0x...
// (flash, address 0x..., N bytes): reason"; empty when every record can be sent.
std::string ImageFrameProblem(const FirmwareImage& image);

}  // namespace vindelor::firmware
