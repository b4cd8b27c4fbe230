#pragma once

#include <array>

#include "registers/Scope.h"
#include "registers/ScopeTrigger.h"

namespace vindelor::app {

class SettingsStore;

// What the scope tab keeps between runs of the program: the time window, the trigger and which
// channels are drawn on an axis of their own. Stored in the "Scope" group of the settings,
// beside (and apart from) the window's own values.
struct ScopeSetup {
    enum Mode { Off = 0, Auto = 1, Normal = 2, Single = 3 };
    static constexpr int kDefaultWindowMs = 10000;

    int windowMs = kDefaultWindowMs;
    int mode = Off;
    // The trigger's channel, level, edge and pre-trigger time; the time after it is what the
    // window leaves.
    registers::TriggerSetup trigger{};
    std::array<bool, registers::kScopeChannels> ownAxis{};

    bool operator==(const ScopeSetup&) const = default;
};

// Each value that is missing or out of its range keeps its default; the others still apply.
ScopeSetup ReadScopeSetup(const SettingsStore& settings);
void WriteScopeSetup(SettingsStore& settings, const ScopeSetup& setup);

}  // namespace vindelor::app
