#include "registers/ParameterDevice.h"

#include <algorithm>
#include <map>
#include <thread>

#include "registers/DefinitionFolders.h"
#include "registers/ValueType.h"
#include "util/Text.h"

namespace vindelor::registers {

namespace {

std::uint32_t Masked(std::uint32_t raw, int words) {
    return words >= 2 ? raw : (raw & 0xFFFFu);
}

std::string TypeName(int deviceType) {
    return FilesOf(deviceType).name;
}

bool Cancelled(const ParameterJob& job) {
    return job.cancelled && job.cancelled();
}

// The registers of the definitions in register order, a number once.
std::vector<const RegisterDef*> Registers(const Definitions& defs) {
    std::map<int, const RegisterDef*> byNumber;
    for (int i = 0; i < defs.registerCount; ++i) {
        const auto& def = defs.registerTable[static_cast<std::size_t>(i)];
        if (def.type == Dummy || def.number < 0) continue;
        byNumber.emplace(def.number, &def);
    }
    std::vector<const RegisterDef*> out;
    for (const auto& [number, def] : byNumber) out.push_back(def);
    return out;
}

bool Writable(const std::string& name) {
    return std::none_of(name.begin(), name.end(),
                        [](char c) { return c == '"' || static_cast<unsigned char>(c) < 0x20; });
}

}  // namespace

bool LoadParameterDefinitions(int deviceType, bool alt, const std::vector<std::string>& folders,
                              ParameterDefinitions& out, std::string& error) {
    const LoadResult r = LoadFromFolders(out.defs, deviceType, alt, folders, out.folder);
    if (!r.registersLoaded) {
        error = r.errors.empty() ? "Cannot load the register definitions" : r.errors.front();
        for (auto at = error.find('\n'); at != std::string::npos; at = error.find('\n', at))
            error.replace(at, 1, "; ");
        return false;
    }
    // The folder the definitions came from, then the ones searched after it.
    std::vector<std::string> restoreFolders{out.folder};
    const auto at = std::find(folders.begin(), folders.end(), out.folder);
    if (at != folders.end()) restoreFolders.insert(restoreFolders.end(), at + 1, folders.end());
    if (!LoadRestoreList(deviceType, out.defs, restoreFolders, out.restore, out.restoreError))
        out.restore = {};
    return true;
}

std::string TwoAnswersText(const std::string& name, int address) {
    return name + ": more than one answer at address " + std::to_string(address) +
           "; two devices may answer at that address";
}

namespace {

// A register's value as it answered alone, or nothing; lineWasBusy tells that bytes waited
// before it was asked.
struct RegisterValue {
    std::optional<std::uint32_t> value;
    bool lineWasBusy = false;
};

RegisterValue ReadRegisterValue(protocol::RegisterLink& link, const ParameterJob& job,
                                const RegisterDef& def, const std::string& deviceType) {
    const auto timeout = link.lineTime(protocol::RegisterLink::kReadRequestBytes +
                                       protocol::RegisterLink::ReadReplyBytes(def.words)) +
                         std::chrono::milliseconds(job.replyMarginMs);
    const protocol::Reading r = link.readAlone(job.address, def.number, timeout, ParameterJob::kAttempts);
    if (!r.reply) {
        if (r.doubtful > 0) throw ParameterError(TwoAnswersText(util::TrimRight(def.name), job.address));
        return {std::nullopt, r.lineWasBusy};
    }
    if (r.reply->length != 2 * def.words)
        throw ParameterError(util::TrimRight(def.name) + ": the device answers with " +
                             std::to_string(r.reply->length) + " bytes where a " + deviceType +
                             " has " + std::to_string(2 * def.words) + "; is it a " + deviceType +
                             "?");
    return {Masked(r.reply->value, def.words), r.lineWasBusy};
}

}  // namespace

std::optional<std::uint32_t> ReadRegister(protocol::RegisterLink& link, const ParameterJob& job,
                                          const RegisterDef& def, const std::string& deviceType) {
    return ReadRegisterValue(link, job, def, deviceType).value;
}

ParameterSet ReadParameterSet(protocol::RegisterLink& link, const ParameterJob& job,
                              const Definitions& defs, int deviceType, const std::string& program) {
    ParameterSet set;
    set.program = program;
    set.deviceType = TypeName(deviceType);
    set.address = job.address;
    set.date = ParameterDateNow();
    const auto registers = Registers(defs);
    const int total = static_cast<int>(registers.size());
    int done = 0;
    const RegisterDef* previous = nullptr;
    for (const RegisterDef* def : registers) {
        if (Cancelled(job)) throw ParameterError("Cancelled");
        ParameterEntry e;
        e.name = util::TrimRight(def->name);
        if (!Writable(e.name))
            throw ParameterError(e.name +
                                 ": a register name with a double quote or a control character "
                                 "cannot go into a parameter file");
        e.number = def->number;
        e.type = def->type;
        e.words = def->words >= 2 ? 2 : 1;
        const auto got = ReadRegisterValue(link, job, *def, set.deviceType);
        if (!got.value)
            throw ParameterError(e.name + ": no answer from the device at address " +
                                 std::to_string(job.address));
        e.raw = *got.value;
        // Bytes that came after the last register's answer had been taken as the only one: ask
        // that register again, now that the line is quiet.
        if (got.lineWasBusy && !set.entries.empty()) {
            ParameterEntry& last = set.entries.back();
            const auto again = ReadRegisterValue(link, job, *previous, set.deviceType);
            if (!again.value)
                throw ParameterError(last.name + ": no answer from the device at address " +
                                     std::to_string(job.address));
            last.raw = *again.value;
        }
        previous = def;
        if (e.name == "FIRMWARE") set.firmware = e.valueText();
        if (e.name == "SERIAL") set.serial = e.valueText();
        set.entries.push_back(std::move(e));
        if (job.progress) job.progress(++done, total);
    }
    return set;
}

std::vector<ParameterDifference> CompareParameterSets(const ParameterSet& left,
                                                      const ParameterSet& right,
                                                      const std::set<int>* only) {
    std::map<int, ParameterDifference> byNumber;
    for (const auto& e : left.entries) byNumber[e.number] = {e.name, e.number, e, std::nullopt};
    for (const auto& e : right.entries) {
        auto& d = byNumber[e.number];
        if (!d.left) d = {e.name, e.number, std::nullopt, std::nullopt};
        d.right = e;
    }
    std::vector<ParameterDifference> out;
    for (auto& [number, d] : byNumber) {
        if (only && !only->count(number)) continue;
        const bool same =
            d.left && d.right && d.left->type == d.right->type && d.left->words == d.right->words &&
            Masked(d.left->raw, d.left->words) == Masked(d.right->raw, d.right->words);
        if (!same) out.push_back(std::move(d));
    }
    return out;
}

std::string CheckSetFitsDefinitions(const ParameterSet& set, const Definitions& defs,
                                    int deviceType) {
    if (set.deviceType != TypeName(deviceType))
        return "the file holds the parameters of a " + set.deviceType + ", not of a " +
               TypeName(deviceType);
    for (const auto& e : set.entries) {
        const int index = defs.findRegisterIndex(e.number);
        const std::string at = "line " + std::to_string(e.line) + ": ";
        if (index < 0)
            return at + "register " + std::to_string(e.number) + " (" + e.name +
                   ") is not in the definitions";
        const auto& def = defs.registerTable[static_cast<std::size_t>(index)];
        const int words = def.words >= 2 ? 2 : 1;
        if (util::TrimRight(def.name) != e.name || def.type != e.type || words != e.words)
            return at + "register " + std::to_string(e.number) + " is " + e.name + " (" +
                   TypeKeyword(e.type) + ", " + std::to_string(e.words) +
                   (e.words == 1 ? " word" : " words") + ") in the file but " +
                   util::TrimRight(def.name) + " (" + TypeKeyword(def.type) + ", " +
                   std::to_string(words) + (words == 1 ? " word" : " words") +
                   ") in the definitions";
    }
    return {};
}

std::vector<RestoreStep> PlanRestore(const ParameterSet& file, const ParameterSet& device,
                                     const std::set<int>& allowed) {
    std::vector<RestoreStep> steps;
    for (const auto& e : file.entries) {
        if (!allowed.count(e.number)) continue;
        const ParameterEntry* now = device.find(e.number);
        if (!now) continue;
        if (now->words == e.words && Masked(now->raw, e.words) == Masked(e.raw, e.words)) continue;
        steps.push_back({e, now->raw});
    }
    return steps;
}

std::string RestoreFailure::text() const {
    if (!reason.empty()) return reason;
    if (!readBack) return name + ": no answer when read back";
    return name + ": reads back " + std::string(util::Trimmed(valueText(type, *readBack))) +
           ", not " + std::string(util::Trimmed(valueText(type, wanted)));
}

std::vector<RestoreFailure> RunRestore(protocol::RegisterLink& link, const ParameterJob& job,
                                       const std::vector<RestoreStep>& steps) {
    const int total = 2 * static_cast<int>(steps.size());
    int done = 0;
    for (const auto& s : steps) {
        link.write(job.address, s.entry.number, s.entry.words, s.entry.raw);
        if (job.progress) job.progress(++done, total);
    }
    if (!steps.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(job.readBackDelayMs));
    std::vector<RestoreFailure> failures;
    for (const auto& s : steps) {
        RegisterDef def;
        def.name = s.entry.name;
        def.number = s.entry.number;
        def.type = s.entry.type;
        def.words = s.entry.words;
        RestoreFailure f{s.entry.name, s.entry.number, std::nullopt, Masked(s.entry.raw, def.words),
                         s.entry.type, {}};
        std::optional<std::uint32_t> back;
        try {
            back = ReadRegister(link, job, def, "");
        } catch (const ParameterError& e) {
            back = std::nullopt;  // an answer of another width, or of two devices, holds no value
            f.reason = e.what();
        }
        f.readBack = back;
        if (!back || *back != f.wanted) failures.push_back(std::move(f));
        if (job.progress) job.progress(++done, total);
    }
    return failures;
}

}  // namespace vindelor::registers
