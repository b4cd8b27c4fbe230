#include "registers/BusScan.h"

#include <algorithm>
#include <map>
#include <set>
#include <thread>

namespace vindelor::registers {

namespace {

using std::chrono::microseconds;

// The longest reply to a read: a two-word register.
constexpr int kLongestReplyWords = 2;
// The second question gives this many times the first one's wait, and never less than this.
constexpr int kConfirmFactor = 20;
constexpr microseconds kMinConfirmTime{100'000};
// An answer that was not its address's own came from one of this many addresses before it.
constexpr int kLookBack = 4;
// Late bytes thrown away before asking an address came from one of the two before it: the
// last one, or the one before that whose answer crossed the last one's time.
constexpr int kLateSuspects = 2;
// Each of the second question's reads is asked this often before an address counts as silent,
// or, when every answer came with company, as answered by two devices.
constexpr int kConfirmAttempts = 2;
// Reads after the first that may bring the agreement before the address counts as silent.
constexpr int kAgreeRounds = 2;

}  // namespace

microseconds ScanTimePerAddress(const protocol::RegisterLink& link, int marginMs) {
    const int bytes = protocol::RegisterLink::kReadRequestBytes +
                      protocol::RegisterLink::ReadReplyBytes(kLongestReplyWords);
    return link.lineTime(bytes) + std::chrono::milliseconds(std::max(0, marginMs));
}

microseconds ScanConfirmTime(const protocol::RegisterLink& link, int marginMs) {
    return std::max(kMinConfirmTime, kConfirmFactor * ScanTimePerAddress(link, marginMs));
}

ScanOutcome ScanBus(protocol::RegisterLink& link, const ScanOptions& options) {
    ScanOutcome outcome;
    const int from = std::clamp(options.from, 0, 255);
    const int to = std::clamp(options.to, 0, 255);
    const microseconds wait = ScanTimePerAddress(link, options.marginMs);
    auto cancelled = [&] { return options.cancelled && options.cancelled(); };

    std::set<int> hits;
    std::set<int> suspects;
    auto lateBefore = [&](int address) {
        ++outcome.lateReplies;
        for (int k = 1; k <= kLateSuspects; ++k)
            if (address - k >= from) suspects.insert(address - k);
    };

    int asked = from - 1;
    for (int a = from; a <= to; ++a) {
        if (cancelled()) {
            outcome.cancelled = true;
            break;
        }
        if (link.discardInput() > 0) lateBefore(a);
        if (options.progress) options.progress(a);
        if (link.read(a, options.registerNumber, wait)) {
            hits.insert(a);
        } else if (link.bytesHeard() > 0) {
            // A broken reply: a's own, or a late one of an address before it.
            suspects.insert(a);
            lateBefore(a);
        }
        asked = a;
    }
    // Whatever the last address (or one before it) sends late.
    if (asked >= from) {
        std::this_thread::sleep_for(wait);
        if (link.discardInput() > 0) lateBefore(asked + 1);
    }

    // The second question, on a quiet line with time to spare: twice, each answer alone on the
    // line, and the two must agree. A late answer of another address can stand in for one of
    // them, not for both; a second device at the address shows as company of its answers.
    const microseconds confirmTime = ScanConfirmTime(link, options.marginMs);
    enum class Verdict { Found, Silent, TwoAnswer };
    struct Confirmation {
        Verdict verdict = Verdict::Silent;
        protocol::RegisterReply reply;
    };
    auto ask = [&](int a) {
        return link.readAlone(a, options.registerNumber, confirmTime, kConfirmAttempts);
    };
    auto check = [&](int a) {
        Confirmation c;
        protocol::Reading first = ask(a);
        for (int round = 0; first.reply && round < kAgreeRounds; ++round) {
            protocol::Reading second = ask(a);
            if (!second.reply) {
                if (second.doubtful >= kConfirmAttempts) c.verdict = Verdict::TwoAnswer;
                return c;
            }
            if (second.reply->value == first.reply->value &&
                second.reply->length == first.reply->length) {
                c.verdict = Verdict::Found;
                c.reply = *second.reply;
                return c;
            }
            ++outcome.lateReplies;  // one of the two was not the address's own
            first = std::move(second);
        }
        if (!first.reply && first.doubtful >= kConfirmAttempts) c.verdict = Verdict::TwoAnswer;
        return c;
    };
    std::map<int, Confirmation> asked2;
    auto confirm = [&](int a) -> const Confirmation& {
        auto it = asked2.find(a);
        if (it != asked2.end()) return it->second;
        return asked2[a] = check(a);
    };
    std::set<int> candidates = hits;
    candidates.insert(suspects.begin(), suspects.end());
    for (int a : candidates) {
        if (outcome.cancelled && !hits.count(a)) continue;
        if (confirm(a).verdict != Verdict::Silent || !hits.count(a)) continue;
        // The answer at a was someone else's, late: look for its sender before a.
        for (int b = a - 1; b >= std::max(from, a - kLookBack); --b)
            if (confirm(b).verdict != Verdict::Silent) break;
    }
    // An address that answered the first question but not the second is asked once more at
    // the end: its answer may have been lost, or may have come too late, on a bad line.
    for (int a : hits)
        if (!outcome.cancelled && asked2[a].verdict == Verdict::Silent)
            asked2[a] = check(a);
    for (const auto& [a, c] : asked2) {
        if (c.verdict == Verdict::Found) outcome.found.push_back({a, c.reply});
        if (c.verdict == Verdict::TwoAnswer) outcome.twoAnswers.push_back(a);
    }
    return outcome;
}

std::string TwoDevicesText(int address) {
    return "Two devices answer at address " + std::to_string(address) +
           ": give one of them another address";
}

std::optional<std::uint32_t> ShownFirmware(const DeviceIdentity& id, const ScanHit& hit,
                                          int scannedType) {
    if (id.firmware) return id.firmware;
    if (id.deviceType == 0 || id.deviceType == scannedType) return hit.reply.value;
    return std::nullopt;
}

DeviceIdentity IdentifyDevice(protocol::RegisterLink& link, int address,
                              const std::array<const Definitions*, 4>& definitions,
                              int preferredType, microseconds timeout) {
    std::vector<int> order{preferredType};
    for (int t = VX20_95; t <= KT56; ++t)
        if (t != preferredType) order.push_back(t);
    for (int type : order) {
        if (type < VX20_95 || type > KT56) continue;
        const Definitions* defs = definitions[static_cast<std::size_t>(type - 1)];
        if (!defs) continue;
        const int addressIndex = defs->findRegisterIndex(defs->findRegisterByName("ADDRESS"));
        const int firmwareIndex = defs->findRegisterIndex(defs->findRegisterByName("FIRMWARE"));
        if (addressIndex < 0 || firmwareIndex < 0) continue;
        const auto& addressDef = defs->registerTable[static_cast<std::size_t>(addressIndex)];
        const auto own = link.readAlone(address, addressDef.number, timeout, kConfirmAttempts).reply;
        if (!own || own->length != 2 * addressDef.words ||
            own->value != static_cast<std::uint32_t>(address))
            continue;
        DeviceIdentity id;
        id.deviceType = type;
        const auto& firmwareDef = defs->registerTable[static_cast<std::size_t>(firmwareIndex)];
        if (const auto fw = link.readAlone(address, firmwareDef.number, timeout, kConfirmAttempts).reply)
            id.firmware = fw->value;
        return id;
    }
    return {};
}

}  // namespace vindelor::registers
