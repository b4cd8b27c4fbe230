#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace vindelor::sim {

// What a misbehaving line does, as probabilities. Output faults hit what the device sends;
// drop and flip also hit what it receives, as noise on a line hits both directions.
struct FaultSettings {
    double drop = 0;   // a byte is lost
    double flip = 0;   // a byte arrives with one bit flipped
    double cut = 0;    // a reply stops after a random number of its bytes
    int delayMs = 0;   // a reply is held this much longer ...
    double delay = 0;  // ... with this probability
    double noise = 0;  // a reply is preceded by a few random bytes
    // Replies that are not the answer: a tool that takes the first well-formed frame it sees
    // as the answer to its request believes these.
    double dup = 0;            // a byte of a reply goes out twice (per byte)
    double twice = 0;          // the whole reply goes out again, 0 to 15 ms after it ("double")
    double twin = 0;           // a second device at the address answers too, with other data
    double other = 0;          // the device's previous reply of the same length instead of this one
    double stale = 0;          // the reply comes only when the tool's next byte reaches the device
    double garbage = 0;        // a reply is followed by a few random bytes
    double split = 0;          // a reply pauses 80 to 120 ms at a random inner byte
    double unplugSeconds = 0;  // the port hangs up this long after it started (0: never)
    std::uint64_t seed = 1;

    bool any() const {
        return drop > 0 || flip > 0 || cut > 0 || delay > 0 || noise > 0 || dup > 0 || twice > 0 ||
               twin > 0 || other > 0 || stale > 0 || garbage > 0 || split > 0 || unplugSeconds > 0;
    }
};

// Reads "drop=P,flip=P,cut=P,delay=MS@P,noise=P,dup=P,double=P,twin=P,other=P,stale=P,
// garbage=P,split=P,unplug=SECONDS" (any of them, in any order, P from 0 to 1); the seed is not
// part of it. Nothing and a message in error when the text does not read.
std::optional<FaultSettings> ParseFaults(const std::string& text, std::string& error);

// The settings as ParseFaults reads them, with the seed: for logs, so a run can be replayed.
std::string FaultText(const FaultSettings& settings);

// One reply as the line carries it: pieces one after the other, none overlapping the one
// before. A piece starts no earlier than gapMs after the end of the piece before it, and no
// earlier than startMs after the first piece started.
struct OutputPiece {
    std::vector<std::uint8_t> bytes;
    int gapMs = 0;
    int startMs = 0;
};

struct OutputPlan {
    int delayMs = 0;  // the whole of it leaves this much later (delay)
    std::vector<OutputPiece> pieces;

    // Every byte in the order it goes out, as a tool that does not look at the clock sees it.
    std::vector<std::uint8_t> bytes() const;
};

// A well-formed reply like this one with other data in it, as another device at the same
// address would answer: a register frame gets another value in its last body pair, a
// bootloader frame another data byte (or, when it has none, another byte of the raw data that
// follows it) with its checksum made right again; anything else one bit flipped.
std::vector<std::uint8_t> WithOtherData(const std::vector<std::uint8_t>& reply,
                                        std::mt19937_64& rng);

// Applies the faults with a generator seeded from the settings, so a run with the same seed
// and the same exchange fails in the same places. Input and output have generators of their
// own: how the two interleave in time does not change either one's faults. The replies that
// are not the answer draw from a third one, so that turning them on does not move the faults
// the other kinds give a seed.
class FaultInjector {
  public:
    explicit FaultInjector(const FaultSettings& settings);

    const FaultSettings& settings() const { return settings_; }

    // One reply of the device as it goes onto the line: bytes lost, flipped, cut or sent twice,
    // noise in front and garbage behind, the pieces it goes out in and when (a pause inside,
    // a copy, a twin's frame). A reply held back by stale gives no pieces: see takeHeld.
    OutputPlan onOutput(const std::vector<std::uint8_t>& reply);
    // One byte of the tool on its way to the device; nothing when it is lost.
    std::optional<std::uint8_t> onInput(std::uint8_t byte);
    // The reply stale holds back, handed over once: it goes out when the tool's next byte
    // reaches the device, ahead of the device's answer to it.
    std::optional<OutputPlan> takeHeld();

  private:
    std::vector<std::uint8_t> lineFaults(const std::vector<std::uint8_t>& reply, int& delayMs);

    FaultSettings settings_;
    std::mt19937_64 output_;
    std::mt19937_64 input_;
    std::mt19937_64 replies_;
    // The last reply the device made of each length (other), as a device handing out the
    // buffer it filled last.
    std::map<std::size_t, std::vector<std::uint8_t>> lastOfLength_;
    std::optional<OutputPlan> held_;
};

}  // namespace vindelor::sim
