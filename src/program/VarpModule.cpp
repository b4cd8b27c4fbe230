#include "program/VarpModule.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <thread>

#include "program/TVarpCode.h"
#include "program/VarpError.h"
#include "protocol/ByteText.h"
#include "util/SafeFile.h"

namespace vindelor::program {

namespace {

constexpr int kInputBits = 16;
constexpr std::uint8_t kSetOutputsDataCount = 2;
constexpr std::uint8_t kCommandDataCount = 1;
constexpr std::uint8_t kNoCommandCode = 0xFF;

std::uint8_t ByteAt(std::span<const std::uint8_t> data, std::size_t i) {
    return i < data.size() ? data[i] : std::uint8_t {0};
}

unsigned Word(std::span<const std::uint8_t> data, std::size_t i) {
    return static_cast<unsigned>(ByteAt(data, i)) | static_cast<unsigned>(ByteAt(data, i + 1)) << 8;
}

}  // namespace

std::string VarpStateText(std::uint8_t state) {
    if (state < kVarpStateNames.size()) return std::string(kVarpStateNames[state]);
    return std::to_string(state);
}

std::string VarpStatusText(std::span<const std::uint8_t> data) {
    return "Program state\t: " + VarpStateText(ByteAt(data, 0)) + "\r" +
           "Program pointer\t: " + std::to_string(Word(data, 1)) + "\r" +
           "Stack pointer\t: " + std::to_string(ByteAt(data, 3)) + "\r" +
           "Inputs\t: " + protocol::BinaryText(Word(data, 6), kInputBits) + "\r";
}

std::uint8_t OutputsByte(const std::array<bool, 4>& outputs) {
    unsigned low = 0;
    for (unsigned i = 0; i < outputs.size(); ++i)
        if (outputs[i]) low |= 1u << i;
    return static_cast<std::uint8_t>(low | ((~low & 0x0Fu) << 4));
}

void SendPingModule(protocol::Sender& sender) {
    sender.SendHeader(VarpCmd::PingModule);
    sender.SendTrailer();
}

int SendGetInfo(protocol::Sender& sender, int commandIndex, const std::array<bool, 4>& outputs) {
    sender.SendHeader(VarpCmd::GetInfo);
    if (commandIndex == kCmdSetOutputs) {
        sender.SendPair(kSetOutputsDataCount);
        sender.SendPair(kCmdSetOutputs);
        sender.SendPair(OutputsByte(outputs));
        sender.SendTrailer();
        return kCmdSetOutputs;
    }
    // An index outside the box (nothing chosen) goes out as 0xFF, as -1 does in 8 bits.
    const bool known = commandIndex >= 0 && commandIndex < static_cast<int>(kVarpCommandNames.size());
    sender.SendPair(kCommandDataCount);
    sender.SendPair(known ? static_cast<std::uint8_t>(commandIndex) : kNoCommandCode);
    sender.SendTrailer();
    return kCmdNop;
}

void SleepFor(std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); }

std::size_t SendProgramImage(protocol::Sender& sender, std::span<const std::uint8_t> image,
                             const ChunkPause& pause) {
    std::size_t index = 0;
    for (std::size_t at = 0; at < image.size(); at += kChunkSize, ++index) {
        const std::size_t length = std::min(kChunkSize, image.size() - at);
        sender.SendHeader(VarpCmd::WriteProgram);
        sender.SendPair(static_cast<std::uint8_t>(length + 1));
        sender.SendPair(static_cast<std::uint8_t>(index & 0xFF));
        for (std::size_t i = 0; i < length; ++i) sender.SendPair(image[at + i]);
        sender.SendTrailer();
        // Also after the last chunk: the module gets its time before whatever comes next.
        if (pause) pause(kChunkPause);
    }
    return index;
}

void AddSampleProgram(TVarpCode& code) {
    // Wait for an edge on input 5, then switch output 2 on and wait for an edge on input 4,
    // then switch output 2 off; over again.
    code.AddTestInput(0, 2, 5);
    code.AddJump(0, 1, 1);
    code.AddOutputAction(0, 1, 2);
    code.AddTestInput(1, 2, 4);
    code.AddJump(0, 1, 0);
    code.AddOutputAction(0, 0, 2);
    code.AddJump(0, 0, 0);
}

std::vector<std::uint8_t> BuildSampleProgram(const std::string& logPath) {
    TVarpCode code(kSampleMaxLabel, logPath);
    AddSampleProgram(code);
    code.Optimise();
    return code.GetCode();
}

std::size_t WriteProgram(protocol::Sender& sender, const std::string& programPath, const std::string& logPath,
                         const ChunkPause& pause) {
    (void)BuildSampleProgram(logPath);
    std::vector<std::uint8_t> image;
    std::string reason;
    // A folder opens as a stream that reads nothing; it must not pass for an empty program.
    std::error_code ec;
    if (std::filesystem::is_directory(programPath, ec))
        throw VarpError("Cannot read " + programPath + ": it is a folder");
    if (!util::ReadWholeFile(programPath, image, reason)) throw VarpError(reason);
    return SendProgramImage(sender, image, pause);
}

}  // namespace vindelor::program
