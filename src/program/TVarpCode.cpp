#include "program/TVarpCode.h"

#include <cstdio>

#include "program/Listing.h"
#include "program/VarpError.h"
#include "util/SafeFile.h"

namespace vindelor::program {

namespace {

// Jump opcodes: 0x60 + 2 x condition, bit 0 set for the absolute (3-byte) form.
constexpr std::uint8_t kJumpBase = 0x60;
constexpr std::uint8_t kAbsoluteBit = 0x01;
constexpr std::uint8_t kShortJumpLength = 2;
// A relative offset reaches from -128 to 127, but the shortening pass only takes distances from
// -127 to 126, measured from the end of the 3-byte form.
constexpr int kShortestDistance = -127;
constexpr int kLongestDistance = 126;

constexpr std::uint8_t kOpTestInputs = 0x04;
constexpr std::uint8_t kOpTestInput = 0x05;
constexpr std::uint8_t kOpOutputAction = 0x08;

std::string Hex4(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

std::uint8_t Low8(int v) { return static_cast<std::uint8_t>(v & 0xFF); }

// The bytes AddCommand encodes for an opcode; empty for a record without bytes.
std::vector<std::uint8_t> Encode(std::uint8_t opcode, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
    switch (opcode) {
        case 0: case 1: case 2: case 6: return {opcode};
        case kOpTestInputs: return {opcode, b1, b2, b3};
        case kOpTestInput: case 7: case kOpOutputAction: return {opcode, b1};
        default: return {};
    }
}

void CheckField(const char* what, unsigned value, unsigned low, unsigned high) {
    if (value < low || value > high)
        throw VarpError(std::string(what) + " " + std::to_string(value) + " is outside " + std::to_string(low) +
                        " to " + std::to_string(high));
}

}  // namespace

TVarpCode::TVarpCode(std::uint16_t maxLabel, std::string logPath)
    : LogPath(std::move(logPath)), MaxLabel(maxLabel) {
    // The log starts empty at once: a folder we cannot write to stops the build here.
    if (std::string reason = util::WriteFileSafely(LogPath, std::string_view {}); !reason.empty())
        throw VarpError("Cannot create the program log: " + reason);
    Labels.assign(static_cast<std::size_t>(MaxLabel) + 1, -1);
}

TVarpCode::~TVarpCode() {
    if (!LogSaved) (void)util::WriteFileSafely(LogPath, Log);  // best effort: nobody to tell
}

void TVarpCode::WriteLog(std::string_view text) {
    Log.append(text);
    LogSaved = false;
}

void TVarpCode::SaveLog() {
    if (std::string reason = util::WriteFileSafely(LogPath, Log); !reason.empty())
        throw VarpError("Cannot write the program log: " + reason);
    LogSaved = true;
}

std::size_t TVarpCode::NewCommand(std::uint16_t label) {
    Commands.emplace_back(label);
    Current = static_cast<std::ptrdiff_t>(Commands.size() - 1);
    return Commands.size() - 1;
}

void TVarpCode::CheckLabel(std::uint16_t label) const {
    if (label > MaxLabel)
        throw VarpError("Label " + std::to_string(label) + " is above the highest label " +
                        std::to_string(MaxLabel));
}

std::uint8_t TVarpCode::Append(std::uint16_t label, std::vector<std::uint8_t> bytes, bool isJump,
                               std::uint16_t target) {
    if (Optimised) throw VarpError("Commands cannot be added to a program after it has been optimised");
    CheckLabel(label);
    if (static_cast<std::size_t>(Size) + bytes.size() > kMaxImageSize)
        throw VarpError("The program would grow past " + std::to_string(kMaxImageSize) + " bytes");
    const std::size_t index = NewCommand(label);
    TProgramCommand& c = Commands[index];
    if (Labels[label] == -1) Labels[label] = static_cast<std::int32_t>(index);
    c.Length = static_cast<std::uint8_t>(bytes.size());
    c.Bytes = std::move(bytes);
    c.IsJump = isJump ? 1 : 0;
    c.Target = target;
    c.Address = Size;
    Size = static_cast<std::uint16_t>(Size + c.Length);
    return c.Length;
}

std::uint8_t TVarpCode::AddCommand(std::uint16_t label, std::uint8_t opcode, std::uint8_t b1, std::uint8_t b2,
                                   std::uint8_t b3) {
    return Append(label, Encode(opcode, b1, b2, b3), false, TProgramCommand::kNoTarget);
}

void TVarpCode::AddJump(std::uint16_t label, std::uint8_t condition, std::uint16_t target) {
    CheckField("Jump condition", condition, 0, kMaxCondition);
    const auto opcode = static_cast<std::uint8_t>(kJumpBase + 2 * condition + kAbsoluteBit);
    Append(label, {opcode, 0, 0}, true, target);
}

std::uint8_t TVarpCode::AddTestInput(std::uint16_t label, std::uint8_t mode, std::uint8_t input) {
    // Out-of-range values would spill into the neighbouring bit fields of the operand.
    CheckField("Test mode", mode, 0, kMaxTestMode);
    CheckField("Input", input, 0, kMaxInput);
    return AddCommand(label, kOpTestInput, Low8(((mode ^ 1) << 4) + input));
}

std::uint8_t TVarpCode::AddOutputAction(std::uint16_t label, std::uint8_t action, std::uint8_t output) {
    CheckField("Output action", action, 0, kMaxAction);
    CheckField("Output", output, kFirstOutput, kLastOutput);
    return AddCommand(label, kOpOutputAction, Low8((action << 4) + output - 1));
}

void TVarpCode::CheckJumpTargets() const {
    // A label is reachable when it, or a higher one up to MaxLabel, is borne by a command.
    int highestBorne = -1;
    for (int l = MaxLabel; l >= 0; --l) {
        if (Labels[static_cast<std::size_t>(l)] != -1) {
            highestBorne = l;
            break;
        }
    }
    for (std::size_t i = 0; i < Commands.size(); ++i) {
        const TProgramCommand& c = Commands[i];
        if (c.IsJump && c.Target <= MaxLabel && static_cast<int>(c.Target) > highestBorne)
            throw VarpError("The jump of command " + std::to_string(i) + " goes to label " +
                            std::to_string(c.Target) + ", but no command bears that label or a higher one up to " +
                            std::to_string(MaxLabel));
    }
}

void TVarpCode::CompleteLabels() {
    // A label no command bears stands for the next higher label that one does.
    std::int32_t carried = -1;
    for (std::size_t l = Labels.size(); l-- > 0;) {
        if (Labels[l] == -1)
            Labels[l] = carried;
        else
            carried = Labels[l];
    }
}

int TVarpCode::TargetAddress(const TProgramCommand& jump) const {
    if (jump.Target > MaxLabel) return Size;
    return Commands[static_cast<std::size_t>(Labels[jump.Target])].Address;
}

void TVarpCode::UpdateJumpAddresses() {
    WriteLog("\r\nUpdating Addresses in jump commands...\r\n");
    for (std::size_t i = 0; i < Commands.size(); ++i) {
        TProgramCommand& c = Commands[i];
        if (!c.IsJump) continue;
        Current = static_cast<std::ptrdiff_t>(i);
        const int target = TargetAddress(c);
        if (c.Bytes[0] & kAbsoluteBit) {
            c.Bytes[1] = Low8(target);
            c.Bytes[2] = Low8(target >> 8);
        } else {
            c.Bytes[1] = Low8(target - c.Address - c.Length);
        }
    }
    Dump();
}

bool TVarpCode::ShortenJumps() {
    WriteLog("\r\nSearching for replacable long jumps...\r\n");
    bool changed = false;
    for (std::size_t i = 0; i < Commands.size(); ++i) {
        TProgramCommand& c = Commands[i];
        if (!c.IsJump || !(c.Bytes[0] & kAbsoluteBit)) continue;
        Current = static_cast<std::ptrdiff_t>(i);
        const int distance = TargetAddress(c) - c.Address - c.Length;
        if (distance < kShortestDistance || distance > kLongestDistance) continue;
        changed = true;
        c.Length = kShortJumpLength;
        c.Bytes[0] = static_cast<std::uint8_t>(c.Bytes[0] & ~kAbsoluteBit);
        c.Bytes[1] = Low8(distance);
        c.Bytes.resize(kShortJumpLength);
        Size = static_cast<std::uint16_t>(Size - 1);
        WriteLog(" Jump Command at 0x" + Hex4(c.Address) + " changed to short\r\n");
        // Everything behind moves down at once, so later jumps of this pass see it.
        for (std::size_t k = i + 1; k < Commands.size(); ++k)
            Commands[k].Address = static_cast<std::uint16_t>(Commands[k].Address - 1);
    }
    return changed;
}

void TVarpCode::Optimise() {
    if (Optimised) throw VarpError("The program has been optimised already");
    CheckJumpTargets();
    CompleteLabels();
    Optimised = true;
    WriteLog("\r\nProgram without small jumps, and without destinations:\r\n");
    Dump();
    // Shortening only moves commands down, so a jump that fits the short form keeps fitting it;
    // each round rewrites every offset from the final length of its jump.
    do {
        UpdateJumpAddresses();
    } while (ShortenJumps());
    WriteLog("None found :D");
    SaveLog();
}

std::vector<std::uint8_t> TVarpCode::GetCode() const {
    std::vector<std::uint8_t> code;
    code.reserve(Size);
    for (const TProgramCommand& c : Commands)
        code.insert(code.end(), c.Bytes.begin(), c.Bytes.begin() + c.Length);
    return code;
}

void TVarpCode::Dump() {
    WriteLog("\r\nProgram Dump:\r\n");
    for (std::size_t i = 0; i < Commands.size(); ++i) {
        if (Commands[i].Bytes.empty()) continue;
        WriteLog(DumpLine(i, Commands[i]) + "\r\n");
    }
}

std::string TVarpCode::ListCommand(const TProgramCommand& command) { return program::ListCommand(command); }

}  // namespace vindelor::program
