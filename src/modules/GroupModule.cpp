#include "modules/GroupModule.h"

#include "modules/IntegerText.h"
#include "protocol/ByteText.h"

namespace vindelor::modules {

namespace {

std::uint8_t Low8(std::int64_t v) { return static_cast<std::uint8_t>(v & 0xFF); }
std::uint8_t At(std::span<const std::uint8_t> data, std::size_t i) { return i < data.size() ? data[i] : 0; }

void SendValuePairs(protocol::Sender& sender, int count, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < count; ++i) sender.SendPair(static_cast<std::uint8_t>(v >> (8 * (i % 4))));
}

}  // namespace

void SendModuleStatusRequest(protocol::Sender& sender) {
    sender.SendHeader(ModuleCmd::Status);
    sender.SendTrailer();
}

void SendModuleGroupWrite(protocol::Sender& sender, const registers::Definitions& defs, const GroupWriteTexts& texts,
                          const std::function<void(const std::string&)>& nextSequence) {
    for (int i = 0; i < 3; ++i) sender.SendByte(ModuleCmd::GroupWrite);
    sender.SendPair(Low8(ReadInteger(texts.group)));
    const std::int32_t sequence = ReadInteger(texts.sequence);
    sender.SendPair(Low8(sequence));
    // Truncating division: 255 becomes 0, a negative sequence stays negative.
    if (nextSequence) nextSequence(std::to_string((static_cast<std::int64_t>(sequence) + 1) % 256));
    const std::int32_t reg = ReadInteger(texts.registerNumber);
    sender.SendPair(Low8(reg));
    const int index = defs.findRegisterIndex(reg);
    if (index < 0) throw ParameterNotFound();
    const int n = 2 * defs.registerTable[static_cast<std::size_t>(index)].words;
    const std::int32_t value = ReadInteger(texts.value);
    sender.SendPair(Low8(n));
    SendValuePairs(sender, n, value);
    sender.SendTrailer();
}

void SendModuleRegisterWrite(protocol::Sender& sender, const std::string& registerText, const std::string& valueText) {
    const std::int32_t value = ReadInteger(valueText);
    sender.SendHeader(ModuleCmd::WriteRegister);
    sender.SendPair(Low8(ReadInteger(registerText)));
    sender.SendPair(kModuleRegisterBytes);
    SendValuePairs(sender, kModuleRegisterBytes, value);
    sender.SendTrailer();
}

void SendModuleRegisterRead(protocol::Sender& sender, const std::string& registerText) {
    sender.SendHeader(ModuleCmd::ReadRegister);
    sender.SendPair(Low8(ReadInteger(registerText)));
    sender.SendTrailer();
}

ModuleStatus ParseModuleStatus(std::span<const std::uint8_t> block) {
    ModuleStatus m;
    m.status = At(block, 0) | At(block, 1) << 8;
    m.position = static_cast<std::int32_t>(static_cast<std::uint32_t>(At(block, 2)) | At(block, 3) << 8 |
                                           At(block, 4) << 16 | static_cast<std::uint32_t>(At(block, 5)) << 24);
    m.receiveErrors = At(block, 6);
    m.lastSequence = At(block, 7);
    return m;
}

std::string ModuleStatusText(std::span<const std::uint8_t> block) {
    const ModuleStatus m = ParseModuleStatus(block);
    return "Actual position = " + std::to_string(m.position) + "\r\n" + "ModuleStatus = " +
           protocol::BinaryText(m.status, 16) + "\r\n" + "Last group sequence = " + std::to_string(m.lastSequence) +
           "\r\n" + "Recieve errors = " + std::to_string(m.receiveErrors) + "\r\n";
}

std::string ModuleRegisterText(int registerNumber, std::uint32_t value) {
    return std::to_string(registerNumber) + " = " + std::to_string(static_cast<std::int32_t>(value));
}

}  // namespace vindelor::modules
