#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "program/TProgramCommand.h"

namespace vindelor::program {

// The largest program image: addresses and the image size are 16 bits wide.
constexpr std::size_t kMaxImageSize = 0xFFFF;

// The listing text of one command, read from its bytes (opcode and operands); Length is not
// looked at. Operand bytes the record does not hold read as 0; a record without bytes lists as
// an empty text.
std::string ListCommand(const TProgramCommand& command);

// One line of the program dump, without its line end: the index as 3 hex digits, ":", the
// address as 4 hex digits, ": ", each of the Length bytes as "0x%02X ", then the listing text.
std::string DumpLine(std::size_t index, const TProgramCommand& command);

// The number of bytes the module takes for a command with this opcode, so that an image can be
// walked command by command: the encoded length where the encoder makes such a command, else
// the bytes the listing reads.
int CommandSize(std::uint8_t opcode);

// A program image cut into its commands, with their addresses. A last command that runs past
// the end of the image keeps only the bytes that are there; `truncated` tells. An image larger
// than kMaxImageSize is refused with a VarpError.
struct ImageCommands {
    std::vector<TProgramCommand> commands;
    bool truncated = false;
};
ImageCommands SplitImage(std::span<const std::uint8_t> image);

}  // namespace vindelor::program
