#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "program/VarpError.h"

namespace vindelor::program {

// The text form of a module program, one command per line:
//
//   # a comment runs to the end of the line
//   max-label 1000                 optional, before the first command
//   0: test-input edge-high 5      label number, colon, operation, operands
//   0: jump 1 1
//   1: command 0x04 0x81 0x81 0x8C
//
// Operations: end, wait-in-position, wait-not-in-position, test-inputs L T H, test-input MODE
// INPUT, clear-edges, fastvx B, output ACTION OUTPUT, jump CONDITION TARGET (a label or "end"),
// and command OPCODE [B1 B2 B3] for any opcode with the operand bytes its encoding takes.
// Numbers are decimal, 0x hexadecimal or 0b binary. The README describes it for users
// ("Module programs: the program text").

// A text that does not read as a program; what() is "line N: reason" (N counted from 1).
class ProgramTextError : public VarpError {
public:
    ProgramTextError(int line, const std::string& reason)
        : VarpError("line " + std::to_string(line) + ": " + reason), Line(line), Reason(reason) {}
    int Line;
    std::string Reason;
};

// One command line, as the encoder's adder will take it.
struct ProgramTextLine {
    enum Kind { Command, TestInput, OutputAction, Jump };
    int line = 0;
    Kind kind = Command;
    std::uint16_t label = 0;
    std::uint8_t opcode = 0;  // Command
    std::uint8_t operands[3] = {0, 0, 0};  // Command: b1 b2 b3; TestInput: mode, input;
                                           // OutputAction: action, output; Jump: condition
    std::uint16_t target = 0;  // Jump
};

struct ProgramText {
    static constexpr std::uint16_t kDefaultMaxLabel = 1000;
    std::uint16_t maxLabel = kDefaultMaxLabel;
    std::vector<ProgramTextLine> lines;
};

// Reads the text; throws ProgramTextError at the first line that is wrong.
ProgramText ParseProgramText(std::string_view text);

// Encodes and optimises the program, writing the encoder log at logPath; returns the image.
// Caller errors of the encoder (a label above max-label, a field out of range, a jump to a
// label no command bears) come back as ProgramTextError with the line; a log that cannot be
// written as VarpError.
std::vector<std::uint8_t> AssembleProgram(const ProgramText& program, const std::string& logPath);

}  // namespace vindelor::program
