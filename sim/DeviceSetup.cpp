#include "sim/DeviceSetup.h"

#include <cmath>
#include <filesystem>
#include <set>
#include <algorithm>

#include "registers/DefinitionFolders.h"
#include "registers/Definitions.h"

namespace vindelor::sim {

std::string DefaultDefinitionsFolder() {
    // Installed: the shipped folder beside the program; in the build tree: the source's defs/.
    if (const std::string shipped = registers::SharedDefinitionFolder(); !shipped.empty() && std::filesystem::exists(shipped))
        return shipped;
#ifdef VINDELOR_DEFS_DIR
    if (std::filesystem::exists(VINDELOR_DEFS_DIR)) return VINDELOR_DEFS_DIR;
#endif
    return ".";
}

std::string ConfigureAsMotor(RegisterDevice& device, int deviceType, const std::string& folder) {
    registers::Definitions defs;
    const auto result = registers::LoadDefinitions(defs, deviceType, false, folder);
    if (!result.registersLoaded)
        return "Cannot load the register definitions of " +
               std::string(registers::FilesOf(deviceType).name) + " from " + folder +
               (result.errors.empty() ? "" : ": " + result.errors.front());

    device.setWordsPerRegister(defs.wordsPerRegister);
    for (int i = 0; i < defs.registerCount; ++i) {
        const auto& def = defs.registerTable[static_cast<std::size_t>(i)];
        if (def.number >= 0) device.setWidth(def.number, def.words >= 2 ? 2 : 1);
    }
    device.setSampleBase(defs.sampleBase);

    auto number = [&](const char* name) { return defs.findRegisterByName(name); };
    auto set = [&](const char* name, std::uint32_t v) {
        if (number(name) >= 0) device.setValue(number(name), v);
    };
    // Firmware 1.28; velocity mode, enabled and in position.
    set("FIRMWARE", 0x8000u | (1u << 6) | 28u);
    set("MODE", 1);
    set("STATUS", 0x03);
    set("KP", 0x1800);
    set("GEAR", 0x00018000);
    set("SERIAL", 20261210);
    set("ADDRESS", static_cast<std::uint32_t>(device.address()));
    set("GROUP", static_cast<std::uint32_t>(device.group()));
    // The samples show velocity, temperature, mode and status until the user chooses others
    // (and the position first on the large motors, whose samples are 32 bits wide).
    const char* small[] = {"V_IST", "TEMP", "MODE", "STATUS"};
    const char* large[] = {"P_IST", "V_IST", "TEMP", "MODE"};
    const char* const* sampled = defs.wordsPerRegister == 2 ? large : small;
    for (int k = 0; k < 4; ++k)
        if (number(sampled[k]) >= 0)
            device.setValue(defs.sampleBase + k, static_cast<std::uint32_t>(number(sampled[k])));

    const auto start = Clock::now();
    auto seconds = [start](Clock::time_point at) {
        return std::chrono::duration<double>(at - start).count();
    };
    if (number("P_IST") >= 0)  // 1000 increments a second
        device.setLive(number("P_IST"), [seconds](Clock::time_point at) {
            return static_cast<std::uint32_t>(static_cast<std::int32_t>(seconds(at) * 1000.0));
        });
    // Under the manual rotation the position follows the steps written to register 176.
    if (number("P_IST") >= 0) device.followRotation(number("P_IST"));
    if (number("V_IST") >= 0) device.setLive(number("V_IST"), SwingingVelocity(start));
    if (number("TEMP") >= 0)  // 38 to 42 degrees, fixed8
        device.setLive(number("TEMP"), [seconds](Clock::time_point at) {
            return static_cast<std::uint32_t>(
                static_cast<std::int16_t>((40.0 + 2.0 * std::sin(seconds(at) / 7.0)) * 256.0));
        });
    return {};
}

std::function<std::uint32_t(Clock::time_point)> SwingingVelocity(Clock::time_point start,
                                                                 double periodSeconds) {
    constexpr double kTwoPi = 6.283185307179586;
    return [start, periodSeconds](Clock::time_point at) {
        const double t = std::chrono::duration<double>(at - start).count();
        return static_cast<std::uint32_t>(static_cast<std::int16_t>(
            kSwingCentre + kSwingAmplitude * std::sin(kTwoPi * t / periodSeconds)));
    };
}

std::optional<std::vector<LineMember>> ParseDeviceList(const std::string& text, std::string& error) {
    constexpr int kLastOwnAddress = 254;  // 255 is everyone's
    std::vector<LineMember> members;
    std::set<int> seen;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, comma - start);
        start = comma + 1;
        const auto colon = item.find(':');
        const std::string address = item.substr(0, colon);
        std::size_t used = 0;
        int n = -1;
        try {
            n = std::stoi(address, &used);
        } catch (const std::exception&) {
        }
        if (colon == std::string::npos || address.empty() || used != address.size() || n < 0 || n > kLastOwnAddress) {
            error = "\"" + item + "\" is not ADDRESS:TYPE with an address from 0 to 254";
            return std::nullopt;
        }
        const auto type = registers::DeviceTypeFromName(item.substr(colon + 1));
        if (!type) {
            error = "unknown device type in \"" + item + "\"";
            return std::nullopt;
        }
        if (!seen.insert(n).second) {
            error = "address " + std::to_string(n) + " is given twice";
            return std::nullopt;
        }
        members.push_back({n, *type});
    }
    return members;
}

std::shared_ptr<RegisterBus> MakeMotorLine(const std::vector<LineMember>& members, int group,
                                           const std::string& folder, std::string& error) {
    auto line = std::make_shared<RegisterBus>();
    for (const auto& m : members) {
        auto device = std::make_shared<RegisterDevice>();
        device->setAddress(m.address);
        device->setGroup(group);
        if (std::string why = ConfigureAsMotor(*device, m.deviceType, folder); !why.empty()) {
            error = why;
            return nullptr;
        }
        line->add(device);
    }
    return line;
}

}  // namespace vindelor::sim
