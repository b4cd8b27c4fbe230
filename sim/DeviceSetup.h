#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/RegisterBus.h"
#include "sim/RegisterDevice.h"

namespace vindelor::sim {

// Makes the register device behave as a motor of the given type described by the standard
// definition files in folder: register widths, the sample selectors, a firmware version, and
// live values (a position that moves, a velocity, a temperature) where the names are known.
// Its ADDRESS and GROUP registers hold the address and group it was given before.
// Returns an empty string, or why the definitions could not be loaded.
std::string ConfigureAsMotor(RegisterDevice& device, int deviceType, const std::string& folder);

// The motor's velocity (an int16 register): kSwingCentre + kSwingAmplitude x sin(2 pi t / period),
// t the seconds since start. ConfigureAsMotor swings it once in 2 pi seconds; a test of a
// trigger on it may want it faster.
constexpr double kSwingCentre = 1000;
constexpr double kSwingAmplitude = 50;
constexpr double kSwingPeriodSeconds = 6.283185307179586;
std::function<std::uint32_t(Clock::time_point)> SwingingVelocity(Clock::time_point start,
                                                                 double periodSeconds = kSwingPeriodSeconds);

// One device of a simulated line: its address (0 to 254) and device type.
struct LineMember {
    int address = 0;
    int deviceType = 1;
};
// "3:VX20-95,17:KT42,200:VX300/700": the devices of a line. Nothing, with the reason in error,
// when the text does not read so or names an address twice.
std::optional<std::vector<LineMember>> ParseDeviceList(const std::string& text, std::string& error);
// A line of motors, each configured as ConfigureAsMotor does, all in the given group. Null, with
// the reason in error, when definitions are missing.
std::shared_ptr<RegisterBus> MakeMotorLine(const std::vector<LineMember>& members, int group,
                                           const std::string& folder, std::string& error);

// The folder of the definition files that ship with the tool: the installed one beside the
// program, else defs/ of the source tree the program was built from, else the current folder.
std::string DefaultDefinitionsFolder();

}  // namespace vindelor::sim
