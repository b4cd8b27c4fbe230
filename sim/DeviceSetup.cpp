#include "sim/DeviceSetup.h"

#include <cmath>
#include <filesystem>

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
        return "Cannot load the register definitions of " + std::string(registers::FilesOf(deviceType).name) +
               " from " + folder + (result.errors.empty() ? "" : ": " + result.errors.front());

    for (int i = 0; i < defs.registerCount; ++i) {
        const auto& def = defs.registerTable[static_cast<std::size_t>(i)];
        if (def.number >= 0) device.setWidth(def.number, def.words >= 2 ? 2 : 1);
    }
    device.setWordsPerSample(defs.wordsPerRegister);
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
    set("ADDRESS", 255);
    set("GROUP", 1);
    // The samples show velocity, temperature, mode and status until the user chooses others
    // (and the position first on the large motors, whose samples are 32 bits wide).
    const char* small[] = {"V_IST", "TEMP", "MODE", "STATUS"};
    const char* large[] = {"P_IST", "V_IST", "TEMP", "MODE"};
    const char* const* sampled = defs.wordsPerRegister == 2 ? large : small;
    for (int k = 0; k < 4; ++k)
        if (number(sampled[k]) >= 0) device.setValue(defs.sampleBase + k, static_cast<std::uint32_t>(number(sampled[k])));

    const auto start = Clock::now();
    auto seconds = [start](Clock::time_point at) { return std::chrono::duration<double>(at - start).count(); };
    if (number("P_IST") >= 0)  // 1000 increments a second
        device.setLive(number("P_IST"), [seconds](Clock::time_point at) {
            return static_cast<std::uint32_t>(static_cast<std::int32_t>(seconds(at) * 1000.0));
        });
    if (number("V_IST") >= 0)  // a velocity that swings around 1000
        device.setLive(number("V_IST"), [seconds](Clock::time_point at) {
            return static_cast<std::uint32_t>(static_cast<std::int16_t>(1000.0 + 50.0 * std::sin(seconds(at))));
        });
    if (number("TEMP") >= 0)  // 38 to 42 degrees, fixed8
        device.setLive(number("TEMP"), [seconds](Clock::time_point at) {
            return static_cast<std::uint32_t>(static_cast<std::int16_t>((40.0 + 2.0 * std::sin(seconds(at) / 7.0)) * 256.0));
        });
    return {};
}

}  // namespace vindelor::sim
