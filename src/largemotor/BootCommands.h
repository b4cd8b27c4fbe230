#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "serial/TSerCom.h"

namespace vindelor::largemotor {

// The large motor's flash bootloader speaks frames of a header byte 0xA0 + command, a data
// count, the data, and a checksum that makes the frame's sum 0 modulo 256. Replies have the
// same shape. Addresses and lengths travel high byte first.
namespace Boot {
constexpr std::uint8_t Ping = 0xA0;
constexpr std::uint8_t Write = 0xA1;
constexpr std::uint8_t Erase = 0xA2;
constexpr std::uint8_t Read = 0xA3;
constexpr std::uint8_t Status = 0xA4;
constexpr std::uint8_t SetBaud = 0xAB;
}  // namespace Boot

constexpr std::uint32_t kFlashBase = 0xC00000;       // first address of the flash read back
constexpr std::uint32_t kFlashSize = 0x20000;        // bytes of "flash.bin"
constexpr std::uint32_t kFlashReadBlock = 1024;      // bytes per read command
constexpr std::uint32_t kFlashBlockData = 2048;      // data bytes of the bootloader flash block
constexpr std::uint32_t kFlashBlockSize = kFlashBlockData + 2;  // with its CRC-16
constexpr int kEraseSectorMax = 15;
constexpr int kBaudIndex57600 = 4;                   // rate index of the bootloader's command 11
constexpr int kSetBaudSettleMs = 300;                // after command 11, before the port follows
constexpr int kBootBaud = 57600;
constexpr int kNormalBaud = 19200;

// The frame: header, count, data, checksum.
std::vector<std::uint8_t> BootFrame(std::uint8_t header, std::span<const std::uint8_t> data);
// The checksum byte that makes header + count + data + checksum sum to 0 modulo 256.
std::uint8_t BootChecksum(std::uint8_t header, std::span<const std::uint8_t> data);
// Sends a frame one SendChar per byte, as the bootloader tools do. Echoes nothing.
void SendBootCommand(serial::TSerCom& port, std::uint8_t header, const std::uint8_t* data, int count);

// An address (24 bits, high byte first) and a length (16 bits, high byte first): the data of
// the read and write commands.
std::array<std::uint8_t, 5> AddressAndLength(std::uint32_t address, std::uint16_t length);

// The single commands of the tab, as bytes.
std::vector<std::uint8_t> PingCommand();
std::vector<std::uint8_t> EraseSectorCommand(int sector);
std::vector<std::uint8_t> ReadCommand(std::uint32_t address, std::uint16_t length);
std::vector<std::uint8_t> SetBaudCommand(int rateIndex);
// The wake bytes: 0xFF and the mode's byte, six times.
std::vector<std::uint8_t> WakeBytes(std::uint8_t modeByte);
constexpr std::uint8_t kWakeBoot = 0x6C;     // "Boot Activate"
constexpr std::uint8_t kWakeXC164 = 0x7C;    // "Boot Activate XC164"
constexpr int kWakeRepeats = 6;

// The address box: decimal, or hexadecimal with "0x"; nothing when it is not a number. Only
// the low 24 bits are sent.
std::optional<std::uint32_t> ParseDataAddress(std::string_view text);

// The two first-stage loaders for the XC164's bootstrap loader: 30 bytes of code and two
// filler bytes behind the final jump. Each stores the bytes that follow it from its start
// offset (bytes 2-3, low first) to its last offset (bytes 22-23) and jumps to the first.
constexpr std::size_t kFirstStageSize = 32;
extern const std::array<std::uint8_t, kFirstStageSize> kLoader100;
extern const std::array<std::uint8_t, kFirstStageSize> kLoader2C;
// The offsets a first-stage loader stores to, read from its code.
struct LoaderRange {
    std::uint32_t first;
    std::uint32_t last;
    std::uint32_t count() const { return last >= first ? last - first + 1 : 0; }
};
LoaderRange RangeOf(std::span<const std::uint8_t, kFirstStageSize> code);

// The bootloader flash block: bytes 0..15 hold 0..15, the hex file is loaded over the 2048
// bytes (base 0), and the block's CRC-16 follows high byte first. Hex loader errors pass
// through unchanged.
std::array<std::uint8_t, kFlashBlockSize> PrepareFlashBlock(const std::string& hexFile);

// "12 (9%)": kilobytes read and the percentage of the whole flash.
std::string ReadCountText(std::uint32_t bytesRead);
// "Address 0xC00100".
std::string AddressText(std::uint32_t address);

}  // namespace vindelor::largemotor
