#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "protocol/Sender.h"
#include "registers/Definitions.h"

namespace vindelor::modules {

// The group-write module's requests and the texts of its replies (the "VXM-NSx" tab). Text
// boxes are read as decimal integers at the point where their value is needed, so a bad one
// ends the request with exactly the bytes before it sent (ConversionError).

namespace ModuleCmd {
constexpr std::uint8_t Status = 'X';          // answered by 'X' with the status block
constexpr std::uint8_t GroupWrite = 'Y';
constexpr std::uint8_t ReadRegister = 'Z';    // answered by '['
constexpr std::uint8_t WriteRegister = '[';
}  // namespace ModuleCmd

constexpr std::string_view kStatusStart = "lblFSStatus";
constexpr int kModuleRegisterBytes = 4;

// The error of a group write to a register the definitions do not know.
class ParameterNotFound : public std::runtime_error {
public:
    ParameterNotFound() : std::runtime_error("Could not find parameter") {}
};

// The texts of the "Group Write" boxes, as typed.
struct GroupWriteTexts {
    std::string group;
    std::string sequence;
    std::string registerNumber;
    std::string value;
};

// "Get Status": the 'X' header and the trailer.
void SendModuleStatusRequest(protocol::Sender& sender);

// "Group Write": 'Y' three times, the group pair, the sequence pair, the register pair, the
// count pair (2 x the register's words) and the value pairs, the trailer. `nextSequence` gets
// the sequence box's new text as soon as the sequence is sent: (s + 1) modulo 256, truncating.
// A register without definition throws ParameterNotFound after its pair went out.
void SendModuleGroupWrite(protocol::Sender& sender, const registers::Definitions& defs, const GroupWriteTexts& texts,
                          const std::function<void(const std::string&)>& nextSequence);

// "Write module register": the value is read first, then '[', the register pair, 4 and the
// four value pairs, least significant byte first.
void SendModuleRegisterWrite(protocol::Sender& sender, const std::string& registerText, const std::string& valueText);
// "Read module register": 'Z' and the register pair.
void SendModuleRegisterRead(protocol::Sender& sender, const std::string& registerText);

// The module's status block: the status bits (bytes 0-1), the actual position (2-5), the
// receive error count (6) and the last group sequence (7), least significant byte first.
// Bytes the block does not hold read as 0.
struct ModuleStatus {
    unsigned status = 0;
    std::int32_t position = 0;
    unsigned receiveErrors = 0;
    unsigned lastSequence = 0;
};
ModuleStatus ParseModuleStatus(std::span<const std::uint8_t> block);
// The caption of the status block: position, status bits, last sequence and error count,
// each line ended by "\r\n".
std::string ModuleStatusText(std::span<const std::uint8_t> block);
// "11 = -1": the register number and its value as a signed 32-bit number.
std::string ModuleRegisterText(int registerNumber, std::uint32_t value);

}  // namespace vindelor::modules
