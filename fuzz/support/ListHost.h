// A register list host for the fuzzers: the sender collects bytes, message boxes are dropped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Notifier.h"
#include "protocol/Sender.h"
#include "registers/RegisterList.h"

namespace vindelor::fuzz {

struct SilentNotifier : protocol::Notifier {
    void warning(const std::string&, const std::string&) override {}
    void information(const std::string&, const std::string&) override {}
};

struct ListHost : registers::RegisterListHost {
    ListHost() : s(protocol::Sender::Capture(sent, 255, 1)) {}
    protocol::Sender& sender() override { return s; }
    protocol::Notifier& notifier() override { return boxes; }
    std::optional<std::string> askValue(const std::string&) override { return std::nullopt; }
    void pause(int) override {}

    std::vector<std::uint8_t> sent;
    protocol::Sender s;
    SilentNotifier boxes;
};

// Every line of both lists, with every register word set to a value from the input, so that
// whatever the definitions say is formatted, shifted and looked up.
inline void ShowEverything(registers::RegisterList& list, std::uint32_t seed) {
    for (std::size_t n = 0; n < list.registerWords.size(); ++n)
        list.registerWords[n] = static_cast<std::uint16_t>(seed * (n + 1) >> (n % 16));
    for (bool hex : {false, true}) {
        list.hexView = hex;
        for (int i = 0; i < list.defs.registerCount; ++i) (void)list.formatRegisterLine(i);
    }
    list.refreshBitFields();
}

}  // namespace vindelor::fuzz
