#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>
#include <string>
#include <string_view>

namespace vindelor::firmware {

// The format error of the hex reader: a character that is not a hexadecimal digit where one is
// expected, a record cut short by the end of the file, or a record type other than 0, 1, 2, 4.
// A type of its own, so it is never mistaken for one of the reader's TSerErr failures.
class HexFormatError : public std::exception {
  public:
    HexFormatError(std::size_t line, std::size_t offset) : Line(line), Offset(offset) {}
    const char* what() const noexcept override { return "Format error in hexfile"; }

    std::size_t Line;    // 1-based line of the offending character; 0 when it cannot be told
                         // (a file that is not a plain file and whose start has been read)
    std::size_t Offset;  // byte offset of the offending character (the file size if cut short)
};

// The optional outputs of a load.
struct HexLoadOutputs {
    // When not empty: mask[i] = 1 for every buffer index written. Must be at least as large as
    // the buffer.
    std::span<std::uint8_t> mask;
    // When set: the number of data bytes stored (bytes written twice count twice).
    std::int32_t* byteCount = nullptr;
};

// Reads an Intel HEX file into `buffer`, whose index 0 is `baseAddress`; every data byte goes to
// its absolute address minus the base. Bytes the file does not define are left as they are.
// Returns the highest index written plus 1 (0 when the file has no data bytes).
//
// Throws serial::TSerErr(1, "Buffer overflow loading hexfile") for a byte at or beyond the end
// of the buffer, TSerErr(1, "Buffer underflow loading hexfile") for one before the base address,
// TSerErr(1, "Checksum error in hexfile") for a record whose sum is not 0, HexFormatError for a
// malformed record and std::system_error when the file cannot be read. Bytes stored before a
// failure stay in the buffer. Throws std::invalid_argument for a mask smaller than the buffer.
std::int32_t LoadHexFile(const std::string& fileName, std::span<std::uint8_t> buffer,
                         std::uint32_t baseAddress, HexLoadOutputs outputs = {});

// The same for hex text already in memory.
std::int32_t LoadHexText(std::string_view text, std::span<std::uint8_t> buffer,
                         std::uint32_t baseAddress, HexLoadOutputs outputs = {});

}  // namespace vindelor::firmware
