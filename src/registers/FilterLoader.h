#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/Notifier.h"
#include "protocol/Sender.h"
#include "registers/Definitions.h"

namespace vindelor::registers {

constexpr int kFilterBufferIntegers = 200;
constexpr int kFilterNeededIntegers = 22;

// Scales a run of integers by 1/divisor (rounded half away from zero) and adds what the run
// then lacks of total to its last non-zero value.
void normaliseToSum(std::int32_t* values, int count, double divisor, std::int32_t total);

// Reads the filter coefficient file and writes the sixteen coefficients to a VX20-95 (another
// device type gets nothing). Returns an empty string when it went through, else the reason,
// which the caller shows; in that case nothing was sent. A coefficient out of the 16-bit range
// brings up the "Out of range" box and is written anyway.
std::string loadFilter(const std::string& path, int deviceType, const Definitions& defs,
                       protocol::Sender& sender, protocol::Notifier& notifier);

}  // namespace vindelor::registers
