#include "registers/ParameterDevice.h"

#include <algorithm>
#include <deque>
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

std::chrono::microseconds ReplyTimeout(const protocol::RegisterLink& link, const ParameterJob& job,
                                       int words) {
    return link.lineTime(protocol::RegisterLink::kReadRequestBytes +
                         protocol::RegisterLink::ReadReplyBytes(words)) +
           std::chrono::milliseconds(job.replyMarginMs);
}

// The value of a reply of the definition's width; a reply of another width means the
// definitions are not the device's.
std::uint32_t ValueOf(const protocol::RegisterReply& reply, const RegisterDef& def,
                      const std::string& deviceType) {
    if (reply.length == 2 * def.words) return Masked(reply.value, def.words);
    const std::string answers = util::TrimRight(def.name) + ": the device answers with " +
                                std::to_string(reply.length) + " bytes where ";
    if (deviceType.empty())
        throw ParameterError(answers + "the definitions have " + std::to_string(2 * def.words));
    throw ParameterError(answers + "a " + deviceType + " has " + std::to_string(2 * def.words) +
                         "; is it a " + deviceType + "?");
}

std::string NoAnswerText(const RegisterDef& def, int address) {
    return util::TrimRight(def.name) + ": no answer from the device at address " +
           std::to_string(address);
}

// The registers read one after the other, as fast as the line carries the frames, each answer
// taken only when it came alone: its request's window (to the next request) held its one reply
// and nothing else, and the next window nothing stray either, since a second answer lands
// there; the last one is followed by a quiet line of a reply's line time and a turnaround. An
// answer that fails this is asked again, on a quiet line, up to kAttempts times in all. Progress
// counts the registers taken. With stopAtFailure the reading ends at the first register that
// fails for good.
struct InTurn {
    std::optional<std::uint32_t> value;
    std::string failure;  // why there is no value
};
std::vector<InTurn> ReadInTurn(protocol::RegisterLink& link, const ParameterJob& job,
                               const std::vector<RegisterDef>& defs, const std::string& deviceType,
                               bool stopAtFailure, const std::function<void()>& taken = {}) {
    std::vector<InTurn> out(defs.size());
    std::vector<int> attempts(defs.size(), 0);
    std::vector<int> doubtful(defs.size(), 0);
    std::deque<std::size_t> todo;
    for (std::size_t i = 0; i < defs.size(); ++i) todo.push_back(i);
    struct Held {
        std::size_t index;
        std::uint32_t value;
        int valueBytes;
    };
    std::optional<Held> held;
    bool lineQuiet = true;  // nothing stray since the last settle
    bool failed = false;

    // An answer that did not hold: asked again (first), or failed for good.
    auto again = [&](std::size_t i, bool wasDoubtful) {
        if (wasDoubtful) ++doubtful[i];
        if (++attempts[i] < ParameterJob::kAttempts) {
            todo.push_front(i);
            return;
        }
        out[i].failure = doubtful[i] > 0 ? TwoAnswersText(util::TrimRight(defs[i].name), job.address)
                                         : NoAnswerText(defs[i], job.address);
        failed = true;
    };
    auto take = [&](const Held& h) {
        out[h.index].value = h.value;
        if (taken) taken();
    };
    while (!todo.empty() && !(stopAtFailure && failed)) {
        if (Cancelled(job)) throw ParameterError("Cancelled");
        const std::size_t i = todo.front();
        todo.pop_front();
        const RegisterDef& def = defs[i];
        const auto timeout = ReplyTimeout(link, job, def.words);
        if (!lineQuiet) link.settle(timeout);
        const protocol::Answer a =
            link.ask(job.address, def.number, timeout, protocol::RegisterLink::QuietAfter::Skip);
        lineQuiet = a.strayBytes == 0 && a.reply;
        if (held) {
            // Anything stray in this window may be a second answer to the one held.
            const Held h = *held;
            held.reset();
            if (a.strayBytes == 0)
                take(h);
            else
                again(h.index, true);
        }
        if (a.clean()) {
            held = Held{i, ValueOf(*a.reply, def, deviceType), a.reply->length};
        } else {
            again(i, a.doubtful());
        }
        // After the last question the line must stay quiet for the answer to hold.
        if (todo.empty() && held) {
            const Held h = *held;
            held.reset();
            if (link.strayWithin(link.quietAfterReply(h.valueBytes)) == 0)
                take(h);
            else {
                lineQuiet = false;
                again(h.index, true);
            }
        }
    }
    return out;
}

std::vector<RegisterDef> DefsOf(const std::vector<const RegisterDef*>& registers) {
    std::vector<RegisterDef> out;
    for (const RegisterDef* def : registers) out.push_back(*def);
    return out;
}

}  // namespace

std::optional<std::uint32_t> ReadRegister(protocol::RegisterLink& link, const ParameterJob& job,
                                          const RegisterDef& def, const std::string& deviceType) {
    const protocol::Reading r =
        link.readAlone(job.address, def.number, ReplyTimeout(link, job, def.words), ParameterJob::kAttempts);
    if (r.reply) return ValueOf(*r.reply, def, deviceType);
    if (r.doubtful > 0) throw ParameterError(TwoAnswersText(util::TrimRight(def.name), job.address));
    return std::nullopt;
}

ParameterSet ReadParameterSet(protocol::RegisterLink& link, const ParameterJob& job,
                              const Definitions& defs, int deviceType, const std::string& program) {
    ParameterSet set;
    set.program = program;
    set.deviceType = TypeName(deviceType);
    set.address = job.address;
    set.date = ParameterDateNow();
    const auto registers = Registers(defs);
    for (const RegisterDef* def : registers) {
        const std::string name = util::TrimRight(def->name);
        if (!Writable(name))
            throw ParameterError(name +
                                 ": a register name with a double quote or a control character "
                                 "cannot go into a parameter file");
    }
    const int total = static_cast<int>(registers.size());
    int done = 0;
    const auto values = ReadInTurn(link, job, DefsOf(registers), set.deviceType, true, [&] {
        if (job.progress) job.progress(++done, total);
    });
    for (std::size_t i = 0; i < registers.size(); ++i) {
        const RegisterDef* def = registers[i];
        if (!values[i].value) {
            if (!values[i].failure.empty()) throw ParameterError(values[i].failure);
            continue;  // not read: an earlier register failed
        }
        ParameterEntry e;
        e.name = util::TrimRight(def->name);
        e.number = def->number;
        e.type = def->type;
        e.words = def->words >= 2 ? 2 : 1;
        e.raw = *values[i].value;
        if (e.name == "FIRMWARE") set.firmware = e.valueText();
        if (e.name == "SERIAL") set.serial = e.valueText();
        set.entries.push_back(std::move(e));
    }
    if (set.entries.size() != registers.size())
        throw ParameterError("the device at address " + std::to_string(job.address) +
                             " did not answer every register");
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
    std::vector<RegisterDef> defs;
    for (const auto& s : steps) {
        RegisterDef def;
        def.name = s.entry.name;
        def.number = s.entry.number;
        def.type = s.entry.type;
        def.words = s.entry.words;
        defs.push_back(def);
    }
    // The writes are out: the read-backs go to their end, whatever a cancel says meanwhile.
    ParameterJob readBack = job;
    readBack.cancelled = {};
    std::vector<InTurn> back;
    try {
        back = ReadInTurn(link, readBack, defs, "", false, [&] {
            if (job.progress) job.progress(++done, total);
        });
    } catch (const ParameterError& e) {
        // An answer of another width holds no value to compare: every read-back fails with it.
        back.assign(steps.size(), InTurn{std::nullopt, e.what()});
    }
    std::vector<RestoreFailure> failures;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const auto& s = steps[i];
        RestoreFailure f{s.entry.name, s.entry.number, back[i].value, Masked(s.entry.raw, s.entry.words),
                         s.entry.type, {}};
        if (!back[i].value && back[i].failure != NoAnswerText(defs[i], job.address))
            f.reason = back[i].failure;
        if (!f.readBack || *f.readBack != f.wanted) failures.push_back(std::move(f));
    }
    return failures;
}

}  // namespace vindelor::registers
