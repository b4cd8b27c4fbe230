#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace vindelor::sim {

// What a misbehaving line does, as probabilities. Output faults hit what the device sends;
// drop and flip also hit what it receives, as noise on a line hits both directions.
struct FaultSettings {
    double drop = 0;           // a byte is lost
    double flip = 0;           // a byte arrives with one bit flipped
    double cut = 0;            // a reply stops after a random number of its bytes
    int delayMs = 0;           // a reply is held this much longer ...
    double delay = 0;          // ... with this probability
    double noise = 0;          // a reply is preceded by a few random bytes
    double unplugSeconds = 0;  // the port hangs up this long after it started (0: never)
    std::uint64_t seed = 1;

    bool any() const {
        return drop > 0 || flip > 0 || cut > 0 || delay > 0 || noise > 0 || unplugSeconds > 0;
    }
};

// Reads "drop=P,flip=P,cut=P,delay=MS@P,noise=P,unplug=SECONDS" (any of them, in any order,
// P from 0 to 1); the seed is not part of it. Nothing and a message in error when the text
// does not read.
std::optional<FaultSettings> ParseFaults(const std::string& text, std::string& error);

// The settings as ParseFaults reads them, with the seed: for logs, so a run can be replayed.
std::string FaultText(const FaultSettings& settings);

// Applies the faults with a generator seeded from the settings, so a run with the same seed
// and the same exchange fails in the same places. Input and output have generators of their
// own: how the two interleave in time does not change either one's faults.
class FaultInjector {
  public:
    explicit FaultInjector(const FaultSettings& settings);

    const FaultSettings& settings() const { return settings_; }

    // One reply of the device as it goes onto the line: bytes lost, flipped or cut, noise in
    // front. extraDelayMs is set to the delay this reply gets (0 for none).
    std::vector<std::uint8_t> onOutput(const std::vector<std::uint8_t>& reply, int& extraDelayMs);
    // One byte of the tool on its way to the device; nothing when it is lost.
    std::optional<std::uint8_t> onInput(std::uint8_t byte);

  private:
    static bool Chance(std::mt19937_64& rng, double p);
    static std::uint64_t Below(std::mt19937_64& rng, std::uint64_t n);

    FaultSettings settings_;
    std::mt19937_64 output_;
    std::mt19937_64 input_;
};

}  // namespace vindelor::sim
