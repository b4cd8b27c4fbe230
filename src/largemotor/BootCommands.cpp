#include "largemotor/BootCommands.h"

#include <charconv>
#include <cstdio>

#include "firmware/Crc.h"
#include "firmware/HexFile.h"

namespace vindelor::largemotor {

const std::array<std::uint8_t, kFirstStageSize> kLoader100 = {
    0xE6, 0xF0, 0x00, 0x01, 0x9A, 0xB7, 0xFE, 0x70, 0xF3, 0xF2, 0xB2, 0xFE, 0xD7, 0x00, 0xE0, 0x00,
    0xB9, 0x20, 0x7E, 0xB7, 0x86, 0xF0, 0xFF, 0x04, 0x3D, 0xF5, 0xFA, 0xE0, 0x00, 0x01,
    0x00, 0x00};  // filler behind the jump
const std::array<std::uint8_t, kFirstStageSize> kLoader2C = {
    0xE6, 0xF0, 0x2C, 0x00, 0x9A, 0xB7, 0xFE, 0x70, 0xF3, 0xF2, 0xB2, 0xFE, 0xD7, 0x00, 0xE0, 0x00,
    0xB9, 0x20, 0x7E, 0xB7, 0x86, 0xF0, 0xFF, 0x07, 0x3D, 0xF5, 0xFA, 0xE0, 0x2C, 0x00,
    0x00, 0x00};  // filler behind the jump

std::uint8_t BootChecksum(std::uint8_t header, std::span<const std::uint8_t> data) {
    unsigned sum = header + static_cast<unsigned>(data.size());
    for (auto b : data) sum += b;
    return static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

std::vector<std::uint8_t> BootFrame(std::uint8_t header, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> frame;
    frame.reserve(data.size() + 3);
    frame.push_back(header);
    frame.push_back(static_cast<std::uint8_t>(data.size()));
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(BootChecksum(header, data));
    return frame;
}

void SendBootCommand(serial::TSerCom& port, std::uint8_t header, const std::uint8_t* data, int count) {
    for (std::uint8_t b : BootFrame(header, {data, static_cast<std::size_t>(count)})) port.SendChar(b);
}

std::array<std::uint8_t, 5> AddressAndLength(std::uint32_t address, std::uint16_t length) {
    return {static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 8),
            static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length)};
}

std::vector<std::uint8_t> PingCommand() { return BootFrame(Boot::Ping, {}); }

std::vector<std::uint8_t> EraseSectorCommand(int sector) {
    const std::uint8_t data[] = {static_cast<std::uint8_t>(sector)};
    return BootFrame(Boot::Erase, data);
}

std::vector<std::uint8_t> ReadCommand(std::uint32_t address, std::uint16_t length) {
    return BootFrame(Boot::Read, AddressAndLength(address, length));
}

std::vector<std::uint8_t> SetBaudCommand(int rateIndex) {
    const std::uint8_t data[] = {static_cast<std::uint8_t>(rateIndex)};
    return BootFrame(Boot::SetBaud, data);
}

std::vector<std::uint8_t> WakeBytes(std::uint8_t modeByte) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < kWakeRepeats; ++i) {
        bytes.push_back(0xFF);
        bytes.push_back(modeByte);
    }
    return bytes;
}

std::optional<std::uint32_t> ParseDataAddress(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty()) return std::nullopt;
    unsigned long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return static_cast<std::uint32_t>(value & 0xFFFFFF);
}

LoaderRange RangeOf(std::span<const std::uint8_t, kFirstStageSize> code) {
    return {static_cast<std::uint32_t>(code[2] | code[3] << 8),
            static_cast<std::uint32_t>(code[22] | code[23] << 8)};
}

std::array<std::uint8_t, kFlashBlockSize> PrepareFlashBlock(const std::string& hexFile) {
    std::array<std::uint8_t, kFlashBlockSize> block {};
    for (std::uint8_t i = 0; i < 16; ++i) block[i] = i;
    firmware::LoadHexFile(hexFile, std::span<std::uint8_t>(block.data(), kFlashBlockData), 0);
    const std::uint16_t crc = firmware::Crc16(block.data(), kFlashBlockData);
    block[kFlashBlockData] = static_cast<std::uint8_t>(crc >> 8);
    block[kFlashBlockData + 1] = static_cast<std::uint8_t>(crc);
    return block;
}

std::string ReadCountText(std::uint32_t bytesRead) {
    char text[48];
    std::snprintf(text, sizeof text, "%u (%u%%)", bytesRead / 1024,
                  static_cast<unsigned>(std::uint64_t {bytesRead} * 100 / kFlashSize));
    return text;
}

std::string AddressText(std::uint32_t address) {
    char text[32];
    std::snprintf(text, sizeof text, "Address 0x%6X", address);
    return text;
}

}  // namespace vindelor::largemotor
