#include "program/Listing.h"

#include <algorithm>
#include <cstdio>

#include "program/VarpError.h"

namespace vindelor::program {

namespace {

constexpr const char* kReserved = "Reserved!";
constexpr const char* kUnknown = "Unknown command...";

// Operand types of the load and store commands, 2 bits. The input side of a load immediate
// writes its 32-bit type with a capital S; everywhere else it is lower case.
constexpr const char* kInputTypes[4] = {"8 bit unsigned", "16 bit unsigned", "16 bit signed",
                                        "32 bit Signed"};
constexpr const char* kOutputTypes[4] = {"8 bit unsigned", "16 bit unsigned", "16 bit signed",
                                         "32 bit signed"};
// Value bytes of a load immediate, by its output type.
constexpr int kImmediateBytes[4] = {1, 2, 2, 4};

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

// Operand byte n (1 = the first after the opcode); 0 where the record ends early.
std::uint8_t Operand(const TProgramCommand& c, std::size_t n) {
    return n < c.Bytes.size() ? c.Bytes[n] : std::uint8_t {0};
}

int Bit(unsigned value, int bit) { return static_cast<int>((value >> bit) & 1u); }

std::string TestInputs(const TProgramCommand& c) {
    const std::uint8_t levels = Operand(c, 1);
    const std::uint8_t tested = Operand(c, 2);
    const std::uint8_t high = Operand(c, 3);
    auto letter = [](int isTested, int level) { return !isTested ? 'D' : (level ? 'H' : 'L'); };
    std::string inputs;
    inputs += letter(Bit(high, 3), Bit(high, 1));  // input 10
    inputs += letter(Bit(high, 2), Bit(high, 0));  // input 9
    for (int bit = 7; bit >= 0; --bit) inputs += letter(Bit(tested, bit), Bit(levels, bit));
    return "Test inputs (High order): " + inputs + " Condition: " + (Bit(high, 7) ? "OR" : "AND");
}

std::string TestInput(const TProgramCommand& c) {
    const std::uint8_t b = Operand(c, 1);
    return "Test input " + std::to_string(b & 0x0F) + " Edge: " + std::to_string(Bit(b, 5)) +
           " High: " + std::to_string(Bit(b, 4));
}

std::string LoadImmediate(const TProgramCommand& c) {
    const std::uint8_t op = c.Bytes[0];
    const int os = op & 3;
    std::string value;
    for (int i = kImmediateBytes[os]; i >= 1; --i) value += Hex(Operand(c, static_cast<std::size_t>(i)), 2);
    return std::string("Load Immediate IS: ") + kInputTypes[(op >> 2) & 3] + " OS: " + kOutputTypes[os] +
           " Value: 0x" + value;
}

std::string LoadStore(const TProgramCommand& c) {
    const std::uint8_t op = c.Bytes[0];
    return std::string(Bit(op, 3) ? "Store " : "Load ") + (Bit(op, 2) ? "Variable" : "Parameter") +
           " Type: " + kOutputTypes[op & 3] + " Address: 0x" + Hex(Operand(c, 1), 2);
}

std::string Jump(const TProgramCommand& c) {
    const std::uint8_t op = c.Bytes[0];
    std::string text = "Jump condition: " + std::to_string((op >> 1) & 3);
    if (op & 1) return text + " Abs: 0x" + Hex(Operand(c, 2), 2) + Hex(Operand(c, 1), 2);
    const std::uint8_t offset = Operand(c, 1);
    return text + " Rel: 0x" + Hex(offset, 2) + " (" + std::to_string(static_cast<std::int8_t>(offset)) +
           " dec)";
}

std::string BasicCommand(const TProgramCommand& c) {
    switch (c.Bytes[0] & 0x1F) {
        case 0x00: return "End of program";
        case 0x01: return "Wait for in position before continuing";
        case 0x02: return "Wait for not in position, before continuing";
        case 0x04: return TestInputs(c);
        case 0x05: return TestInput(c);
        case 0x06: return "Clear edge detect on all inputs";
        case 0x07: return "Send fastvx command";
        case 0x08: return "Output action";
        default: return kReserved;
    }
}

}  // namespace

std::string ListCommand(const TProgramCommand& command) {
    if (command.Bytes.empty()) return {};
    const std::uint8_t op = command.Bytes[0];
    if (op < 0x20) return BasicCommand(command);
    if (op < 0x30) return LoadImmediate(command);
    if (op < 0x40) return "Operator";
    if (op < 0x50) return LoadStore(command);
    if (op < 0x60) return "Load/Store Stack";
    if (op < 0x68) return Jump(command);
    if (op < 0x70) return "Call/Return";
    return kUnknown;
}

std::string DumpLine(std::size_t index, const TProgramCommand& command) {
    std::string line = Hex(static_cast<unsigned>(index), 3) + ":" + Hex(command.Address, 4) + ": ";
    const std::size_t n = std::min<std::size_t>(command.Length, command.Bytes.size());
    for (std::size_t i = 0; i < n; ++i) line += "0x" + Hex(command.Bytes[i], 2) + " ";
    return line + ListCommand(command);
}

int CommandSize(std::uint8_t opcode) {
    if (opcode < 0x20) {
        switch (opcode & 0x1F) {
            case 0x04: return 4;
            case 0x05: case 0x07: case 0x08: return 2;
            default: return 1;
        }
    }
    if (opcode < 0x30) return 1 + kImmediateBytes[opcode & 3];
    if (opcode >= 0x40 && opcode < 0x50) return 2;
    if (opcode >= 0x60 && opcode < 0x68) return (opcode & 1) ? 3 : 2;
    return 1;
}

ImageCommands SplitImage(std::span<const std::uint8_t> image) {
    // Addresses are 16 bits wide: past that the module could not reach a command, and the
    // listing would show wrapped addresses.
    if (image.size() > kMaxImageSize)
        throw VarpError("A program image holds at most " + std::to_string(kMaxImageSize) + " bytes, this one " +
                        std::to_string(image.size()));
    ImageCommands out;
    std::size_t at = 0;
    while (at < image.size()) {
        const std::size_t want = static_cast<std::size_t>(CommandSize(image[at]));
        const std::size_t have = std::min(want, image.size() - at);
        TProgramCommand c(0);
        c.Address = static_cast<std::uint16_t>(at);
        c.Length = static_cast<std::uint8_t>(have);
        c.Bytes.assign(image.begin() + static_cast<std::ptrdiff_t>(at),
                       image.begin() + static_cast<std::ptrdiff_t>(at + have));
        out.commands.push_back(std::move(c));
        if (have < want) out.truncated = true;
        at += have;
    }
    return out;
}

}  // namespace vindelor::program
