#pragma once

#include <cstdint>
#include <vector>

namespace vindelor::program {

// One command of a module program, as the encoder keeps it.
struct TProgramCommand {
    static constexpr std::uint16_t kNoAddress = 0xFFFF;
    static constexpr std::uint16_t kNoTarget = 0xFFFF;

    explicit TProgramCommand(std::uint16_t label) : Label(label) {}

    // The label number the command bears; only the first command with a number defines it.
    std::uint16_t Label;
    // Encoded bytes, 0 to 4.
    std::uint8_t Length = 0;
    // The encoded command, opcode first; empty for a record without bytes. Holds exactly
    // Length bytes.
    std::vector<std::uint8_t> Bytes;
    // Byte offset in the program image.
    std::uint16_t Address = kNoAddress;
    // 1 for the jumps of AddJump: their operand is filled in by Optimise.
    std::uint8_t IsJump = 0;
    // The label a jump goes to; a number above the highest label means the end of the program.
    std::uint16_t Target = kNoTarget;
};

}  // namespace vindelor::program
