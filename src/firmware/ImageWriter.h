#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vindelor::firmware {

// The header record's fields.
struct ImageHeader {
    std::uint16_t LoaderMode = 0;
    std::uint16_t HardwareCode = 0;
    std::uint16_t HeaderWord = 0;
    std::string Description;  // 8-bit text; written with its terminating zero
};

// One complete record (head, payload and check) as it appears in a ".vxf" file.
std::vector<std::uint8_t> EncodeImageRecord(std::uint16_t type, std::uint32_t address,
                                            std::span<const std::uint8_t> data);

// Builds a firmware image file record by record, in the order the calls are made.
class ImageWriter {
  public:
    // Throws std::invalid_argument when the description holds a zero byte (the reader would
    // stop there) or the loader mode is above 3.
    ImageWriter& AddHeader(const ImageHeader& header);
    ImageWriter& AddErase(std::uint8_t block);
    ImageWriter& AddFlash(std::uint32_t address, std::span<const std::uint8_t> data);
    ImageWriter& AddEpp(std::uint32_t address, std::span<const std::uint8_t> data);
    // Any type, for records the loader keeps but never sends.
    ImageWriter& AddRecord(std::uint16_t type, std::uint32_t address,
                           std::span<const std::uint8_t> data);

    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

  private:
    std::vector<std::uint8_t> bytes_;
};

// A flash block as the bootloaders of loader modes 0, 1 and 3 take it: the data followed by
// its own Crc16, high byte first.
std::vector<std::uint8_t> WithBlockCheck(std::span<const std::uint8_t> data);

}  // namespace vindelor::firmware
