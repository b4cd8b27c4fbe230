#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "protocol/Sender.h"

namespace vindelor::modules {

// The debug and fieldbus data views of the "Rx" and "Profi" tabs: their requests and the texts
// of the replies. Requests go to the sender's device address.

namespace DebugCmd {
constexpr std::uint8_t ReadDebugInfo = '0';  // answered by '0' with 8 data bytes
constexpr std::uint8_t StopProgram = '2';
constexpr std::uint8_t SoftwareReset = '3';
constexpr std::uint8_t ReadProfiData = '@';  // answered by '@'
constexpr std::uint8_t WriteProfiData = 'A';
constexpr std::uint8_t ReadDebugData = 'C';  // answered by 'C'
}  // namespace DebugCmd

constexpr std::string_view kDebugInfoStart = "Debug Info";
constexpr std::string_view kDebugInfoWaiting = "Waiting for debug info...";
constexpr std::string_view kProfiDataStart = "Data...";
constexpr std::string_view kProfiDataWaiting = "Waiting for profi data...";
constexpr std::string_view kDebugDataWaiting = "Waiting for profi debug data...";

constexpr std::size_t kDebugInfoBytes = 8;
constexpr std::size_t kProfiDataShown = 8;
constexpr std::size_t kProfiWriteBytes = 9;
constexpr std::size_t kDebugAreaBytes = 256;
constexpr std::size_t kDebugAreaRow = 16;

// One request: the header with the command byte, a pair per data byte, the trailer.
void SendDebugRequest(protocol::Sender& sender, std::uint8_t command, std::span<const std::uint8_t> data = {});

// The caption of the debug status block (a '0' reply), lines ended by "\r". Bytes the reply did
// not carry read as 0.
std::string DebugStatusText(std::span<const std::uint8_t> block);
// The caption of the Profibus data (an '@' reply): the first 8 bytes, missing ones as 0.
std::string ProfiDataText(std::span<const std::uint8_t> data);
// The 16-row dump of the debug area (a 'C' reply): the first 256 bytes, missing ones as 0.
std::string DebugAreaText(std::span<const std::uint8_t> data);

// The 9 data bytes of "Write Profi Data": values separated by ',', ';' or ' ', each decimal
// integer's low 8 bits in turn, the rest 0. Throws ConversionError for a piece that is not an
// integer (an empty one between two separators included) and for more than 9 values.
std::array<std::uint8_t, kProfiWriteBytes> ParseProfiData(const std::string& text);

}  // namespace vindelor::modules
