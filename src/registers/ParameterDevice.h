#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/RegisterLink.h"
#include "registers/Definitions.h"
#include "registers/ParameterSet.h"
#include "registers/RestoreList.h"

namespace vindelor::registers {

// A parameter set read from, compared with and restored to a device, over a port borrowed from
// the receive thread. Each read waits for its own reply; a read that gets none is asked once
// more before it counts as unanswered.

// The definitions of a device type as the register list finds them (the first of the folders
// that holds the files), and the restore list from that folder or, when it holds none, the
// later ones. False, with the load error, when the register file does not load; a restore list
// that does not load leaves its reason in restoreError (saving and comparing with --all need
// none).
struct ParameterDefinitions {
    Definitions defs;
    std::string folder;
    RestoreList restore;
    std::string restoreError;
};
bool LoadParameterDefinitions(int deviceType, bool alt, const std::vector<std::string>& folders,
                              ParameterDefinitions& out, std::string& error);

// A failure that names the register it happened at (save, and the reads before a restore).
class ParameterError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct ParameterJob {
    int address = 0;
    // Called after each register with the count done and the count in all.
    std::function<void(int, int)> progress;
    // Asked between registers; a cancelled read throws ParameterError("Cancelled").
    std::function<bool()> cancelled;
    // How long a request waits beyond the line time of itself and its reply.
    int replyMarginMs = kDefaultReplyMarginMs;
    // Between the writes of a restore and their read-back, as the register list waits.
    int readBackDelayMs = kDefaultReadBackDelayMs;

    static constexpr int kDefaultReplyMarginMs = 100;
    static constexpr int kDefaultReadBackDelayMs = 100;
    // Asks for a register before it counts as unanswered, or as answered by two devices.
    static constexpr int kAttempts = 5;
};

// Reads one register by its definition; nothing when it does not answer after kAttempts. A
// reply of another width than the definition's is an error naming the register and the type,
// since it means the definitions are not those of the device; so is a register that never
// answered alone (TwoAnswersText).
std::optional<std::uint32_t> ReadRegister(protocol::RegisterLink& link, const ParameterJob& job,
                                          const RegisterDef& def, const std::string& deviceType);

// "KP: more than one answer at address 3; two devices may answer at that address"
std::string TwoAnswersText(const std::string& name, int address);

// Every register the definitions name (placeholders aside; a number named twice once), in
// register order, with the header: the given program version, the device type's name, the
// address, the date, and the FIRMWARE and SERIAL registers' values where the definitions name
// them. Throws ParameterError naming a register that does not answer.
ParameterSet ReadParameterSet(protocol::RegisterLink& link, const ParameterJob& job,
                              const Definitions& defs, int deviceType, const std::string& program);

// A register that differs between two sets (or stands in only one of them).
struct ParameterDifference {
    std::string name;
    int number = 0;
    std::optional<ParameterEntry> left;
    std::optional<ParameterEntry> right;
};
// The registers whose type or raw words differ, in register order; with `only`, just those
// register numbers.
std::vector<ParameterDifference> CompareParameterSets(const ParameterSet& left,
                                                      const ParameterSet& right,
                                                      const std::set<int>* only = nullptr);

// Why a saved set cannot go to a device of this type with these definitions: another device
// type, or a register whose name, number or type is not the definitions'. Empty when it fits.
std::string CheckSetFitsDefinitions(const ParameterSet& set, const Definitions& defs,
                                    int deviceType);

// One write of a restore: the file's entry and what the device holds now.
struct RestoreStep {
    ParameterEntry entry;
    std::uint32_t deviceRaw = 0;
};
// The registers a restore writes: those the list allows whose saved value differs from the
// device's, in register order.
std::vector<RestoreStep> PlanRestore(const ParameterSet& file, const ParameterSet& device,
                                     const std::set<int>& allowed);

// A register whose read-back failed: it did not answer, or holds another value.
struct RestoreFailure {
    std::string name;
    int number = 0;
    std::optional<std::uint32_t> readBack;  // nothing when it did not answer
    std::string text() const;               // "KP: reads back 1.0000000, not 1.5000000"
    std::uint32_t wanted = 0;
    int type = 0;
    std::string reason;  // why there is no value to compare, when it is not silence
};
// Writes every step, waits readBackDelayMs, reads each register back. Progress counts the
// writes and then the reads. The failures, in register order; empty when all read back right.
std::vector<RestoreFailure> RunRestore(protocol::RegisterLink& link, const ParameterJob& job,
                                       const std::vector<RestoreStep>& steps);

}  // namespace vindelor::registers
