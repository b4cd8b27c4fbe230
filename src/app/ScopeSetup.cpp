#include "app/ScopeSetup.h"

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "app/SettingsStore.h"
#include "util/Number.h"

namespace vindelor::app {

namespace {

constexpr const char* kWindowMs = "Scope/WindowMs";
constexpr const char* kMode = "Scope/TriggerMode";
constexpr const char* kChannel = "Scope/TriggerChannel";  // 1 to 4, as the channels are numbered
constexpr const char* kEdge = "Scope/TriggerEdge";        // 0 rising, 1 falling
constexpr const char* kLevel = "Scope/TriggerLevel";      // a number in the C locale's format
constexpr const char* kPreMs = "Scope/PreTriggerMs";
constexpr const char* kOwnAxis[registers::kScopeChannels] = {"Scope/OwnAxis1", "Scope/OwnAxis2",
                                                             "Scope/OwnAxis3", "Scope/OwnAxis4"};
constexpr double kMsPerSecond = 1000;

std::optional<int> InRange(const SettingsStore& settings, const char* name, int lo, int hi) {
    const auto v = settings.readInteger(name);
    if (!v || *v < lo || *v > hi) return std::nullopt;
    return v;
}

}  // namespace

ScopeSetup ReadScopeSetup(const SettingsStore& settings) {
    ScopeSetup s;
    if (const auto v = InRange(settings, kWindowMs, 1, std::numeric_limits<int>::max()))
        s.windowMs = *v;
    if (const auto v = InRange(settings, kMode, ScopeSetup::Off, ScopeSetup::Single)) s.mode = *v;
    if (const auto v = InRange(settings, kChannel, 1, registers::kScopeChannels))
        s.trigger.channel = *v - 1;
    if (const auto v = InRange(settings, kEdge, 0, 1))
        s.trigger.edge = *v == 0 ? registers::TriggerEdge::Rising : registers::TriggerEdge::Falling;
    if (const auto v = util::ParseDouble(settings.readText(kLevel).trimmed().toStdString()))
        s.trigger.level = *v;
    if (const auto v = InRange(settings, kPreMs, 0, s.windowMs))
        s.trigger.preSeconds = *v / kMsPerSecond;
    for (int c = 0; c < registers::kScopeChannels; ++c)
        if (const auto v = InRange(settings, kOwnAxis[c], 0, 1))
            s.ownAxis[static_cast<std::size_t>(c)] = *v == 1;
    return s;
}

void WriteScopeSetup(SettingsStore& settings, const ScopeSetup& s) {
    settings.writeInteger(kWindowMs, s.windowMs);
    settings.writeInteger(kMode, s.mode);
    settings.writeInteger(kChannel, s.trigger.channel + 1);
    settings.writeInteger(kEdge, s.trigger.edge == registers::TriggerEdge::Rising ? 0 : 1);
    settings.writeText(kLevel, QString::fromStdString(util::ShortestText(s.trigger.level)));
    settings.writeInteger(kPreMs,
                          static_cast<int>(std::lround(s.trigger.preSeconds * kMsPerSecond)));
    for (int c = 0; c < registers::kScopeChannels; ++c)
        settings.writeInteger(kOwnAxis[c], s.ownAxis[static_cast<std::size_t>(c)] ? 1 : 0);
}

}  // namespace vindelor::app
