#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "program/TProgramCommand.h"

namespace vindelor::program {

// Builds a program for the programmable module: commands are appended one by one, each tagged
// with a label number, and jumps name a target label instead of an address. Optimise turns
// labels into addresses and shortens every absolute jump whose target is near enough into a
// relative one, until none is left to shorten. Every step goes to the log file, with full
// program dumps.
//
// One object serves one build: construct, add, Optimise once, GetCode/GetSize, destroy.
//
// Caller errors are refused with a VarpError before anything changes: a label above MaxLabel,
// an operand that does not fit its field, a program past 65535 bytes, commands added after
// Optimise, and (in Optimise) a jump to a label that no command bears, nor any higher label up
// to MaxLabel.
//
// The log is kept in memory and written whole (to a temporary file renamed over the old log)
// when Optimise ends, by SaveLog, and, if anything is left unsaved, by the destructor. The
// constructor creates it empty at once, so a log that cannot be written stops the build before
// it starts.
class TVarpCode {
public:
    static constexpr const char* kLogFileName = "VarpWare.Log";

    // Field limits of the adders.
    static constexpr std::uint8_t kMaxCondition = 3;
    static constexpr std::uint8_t kMaxTestMode = 3;
    static constexpr std::uint8_t kMaxInput = 15;
    static constexpr std::uint8_t kMaxAction = 15;
    static constexpr std::uint8_t kFirstOutput = 1;
    static constexpr std::uint8_t kLastOutput = 16;

    // Throws VarpError when the log file cannot be created.
    explicit TVarpCode(std::uint16_t maxLabel, std::string logPath = kLogFileName);
    ~TVarpCode();
    TVarpCode(const TVarpCode&) = delete;
    TVarpCode& operator=(const TVarpCode&) = delete;

    // Appends the text to the log as it is: no line end is added.
    void WriteLog(std::string_view text);

    // Opcodes 0, 1, 2, 6 take no operand, 4 takes b1 b2 b3, 5, 7 and 8 take b1; opcode 3 and
    // those above 8 make a record without bytes, which can still define a label (it then
    // stands for the next command's address). Returns the encoded length.
    std::uint8_t AddCommand(std::uint16_t label, std::uint8_t opcode, std::uint8_t b1 = 0,
                            std::uint8_t b2 = 0, std::uint8_t b3 = 0);
    // An absolute jump on condition 0..3 to the command bearing `target`; a target above
    // MaxLabel is the end of the program.
    void AddJump(std::uint16_t label, std::uint8_t condition, std::uint16_t target);
    // Mode 0 high level, 1 low level, 2 edge with high, 3 edge with low; input 0..15.
    std::uint8_t AddTestInput(std::uint16_t label, std::uint8_t mode, std::uint8_t input);
    // Action 0..15 on output 1..16.
    std::uint8_t AddOutputAction(std::uint16_t label, std::uint8_t action, std::uint8_t output);

    // Resolves labels, fills in the jump addresses and shortens jumps, logging every step.
    void Optimise();

    // The program image: the bytes of every command, in order.
    std::vector<std::uint8_t> GetCode() const;
    std::uint16_t GetSize() const { return Size; }

    // Writes every command that has bytes to the log, one line each.
    void Dump();
    static std::string ListCommand(const TProgramCommand& command);

    // Writes the log file now; throws VarpError when it cannot.
    void SaveLog();

    const std::vector<TProgramCommand>& GetCommands() const { return Commands; }
    const std::vector<std::int32_t>& GetLabels() const { return Labels; }
    std::uint16_t GetMaxLabel() const { return MaxLabel; }
    const std::string& GetLogPath() const { return LogPath; }
    const std::string& GetLog() const { return Log; }

private:
    std::size_t NewCommand(std::uint16_t label);
    // Checks the label and the room left, then appends the record with its bytes.
    std::uint8_t Append(std::uint16_t label, std::vector<std::uint8_t> bytes, bool isJump,
                        std::uint16_t target);
    void CheckLabel(std::uint16_t label) const;
    void CheckJumpTargets() const;
    void CompleteLabels();
    int TargetAddress(const TProgramCommand& jump) const;
    void UpdateJumpAddresses();
    bool ShortenJumps();

    std::string LogPath;
    std::string Log;
    bool LogSaved = true;
    std::vector<TProgramCommand> Commands;
    std::vector<std::int32_t> Labels;
    std::ptrdiff_t Current = -1;
    std::uint16_t Size = 0;
    std::uint16_t MaxLabel;
    bool Optimised = false;
};

}  // namespace vindelor::program
