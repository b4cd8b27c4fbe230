#pragma once

#include <array>
#include <cstddef>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "program/TVarpCode.h"
#include "protocol/Sender.h"

namespace vindelor::program {

// The requests of the programmable module and the text of its status reply: what the VARP tab
// does, without the tab. Requests go out through the register protocol's send operations with
// the sender's device address.

// Command bytes of the module's requests.
namespace VarpCmd {
constexpr std::uint8_t PingModule = 95;    // '_'
constexpr std::uint8_t GetInfo = 97;       // 'a', answered by a status reply 'a'
constexpr std::uint8_t WriteProgram = 98;  // 'b', one per chunk
}  // namespace VarpCmd

// The items of the command box, by the code they send.
enum VarpCommand : int {
    kNoCommandChosen = -1,  // goes out as 0xFF
    kCmdNop = 0,
    kCmdStart = 1,
    kCmdStop = 2,
    kCmdPause = 3,
    kCmdSingleStep = 4,
    kCmdSetOutputs = 5,
    kCmdRestartCommunication = 6,
};
inline constexpr std::array<std::string_view, 7> kVarpCommandNames = {
    "NOP", "Start", "Stop", "Pause", "Single Step", "Set outputs", "Restart communication"};

// Program states the module reports; 8 and above are shown as numbers.
inline constexpr std::array<std::string_view, 8> kVarpStateNames = {
    "Passive", "Running", "Single stepping", "Paused",
    "Stack overflow", "Program overflow", "Invalid Command", "Stopped"};

constexpr std::string_view kVarpInfoStart = "Status:";
constexpr std::string_view kVarpInfoWaiting = "Waiting for debug info...";

// The highest label of the program the tab builds before writing (its log only).
constexpr std::uint16_t kSampleMaxLabel = 1000;
constexpr std::size_t kChunkSize = 128;
constexpr std::chrono::milliseconds kChunkPause {50};
// The status reply's bytes that are shown.
constexpr std::size_t kStatusBytes = 8;

// The state name, or its decimal number from 8 on.
std::string VarpStateText(std::uint8_t state);

// The status text of an 'a' reply's data: four lines, each ended by "\r": program state,
// program pointer, stack pointer and the 16 inputs. Bytes the reply does not carry read as 0.
std::string VarpStatusText(std::span<const std::uint8_t> data);

// Bits 0-3: outputs 1-4 (1 = on); bits 4-7 their complement.
std::uint8_t OutputsByte(const std::array<bool, 4>& outputs);

// "Ping module": the 95 request, no data.
void SendPingModule(protocol::Sender& sender);

// "Get Info" with the command box's index (-1 when nothing is chosen) and the output boxes.
// Returns the index the command box shows afterwards: "Set outputs" stays chosen, anything
// else falls back to "NOP". The caller shows kVarpInfoWaiting and clears the byte views first.
int SendGetInfo(protocol::Sender& sender, int commandIndex, const std::array<bool, 4>& outputs);

// How the writer waits between chunks; tests give one that does not sleep.
using ChunkPause = std::function<void(std::chrono::milliseconds)>;
void SleepFor(std::chrono::milliseconds ms);

// Sends an image as "Write Program" does: chunks of 128 bytes (the last shorter), each as the
// 98 request with (chunk length + 1), the chunk index's low 8 bits and the bytes, each followed
// by the pause. An empty image sends nothing. Returns the number of chunks sent.
std::size_t SendProgramImage(protocol::Sender& sender, std::span<const std::uint8_t> image,
                             const ChunkPause& pause = SleepFor);

// The whole "Write Program" action: builds the sample program (which writes the encoder log at
// logPath afresh), reads the program file whole, then sends it with SendProgramImage. Throws
// VarpError naming the file when the log cannot be written or the program file cannot be read;
// nothing is sent then. Serial failures come through as TSerErr.
std::size_t WriteProgram(protocol::Sender& sender, const std::string& programPath,
                         const std::string& logPath, const ChunkPause& pause = SleepFor);

// Adds the seven commands of the sample program to an encoder.
void AddSampleProgram(TVarpCode& code);
// Builds and optimises the sample program of the tab with the given log; returns the image.
std::vector<std::uint8_t> BuildSampleProgram(const std::string& logPath);

}  // namespace vindelor::program
