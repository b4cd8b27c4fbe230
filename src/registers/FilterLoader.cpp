#include "registers/FilterLoader.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "registers/ValueType.h"
#include "util/SafeFile.h"

namespace vindelor::registers {

void normaliseToSum(std::int32_t* values, int count, double divisor, std::int32_t total) {
    std::int64_t remainder = total;
    for (int i = 0; i < count; ++i) {
        values[i] = roundHalfAway(values[i] / divisor);
        remainder -= values[i];
    }
    for (int i = count - 1; i >= 0; --i) {
        if (values[i] != 0) {
            values[i] = static_cast<std::int32_t>(values[i] + remainder);
            break;
        }
    }
}

std::string loadFilter(const std::string& path, int deviceType, const Definitions& defs,
                       protocol::Sender& sender, protocol::Notifier& notifier) {
    std::vector<std::uint8_t> bytes;
    std::string reason;
    if (!util::ReadWholeFile(path, bytes, reason)) return reason;
    if (deviceType != VX20_95) return {};

    // Little-endian 32-bit integers; only the first 200 are used.
    std::array<std::int32_t, kFilterBufferIntegers> k {};
    const std::size_t count = std::min<std::size_t>(bytes.size() / 4, kFilterBufferIntegers);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* p = &bytes[4 * i];
        k[i] = static_cast<std::int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
    }
    if (count < kFilterNeededIntegers)
        return "The filter file " + path + " holds " + std::to_string(count) +
               " coefficients; it needs at least " + std::to_string(kFilterNeededIntegers) + ".";
    for (const char* name : {"KFF3", "KVFX4", "KVB3", "KVFY3"})
        if (defs.findRegisterByName(name) < 0)
            return std::string("The register definitions have no register named ") + name + ".";

    auto write = [&](const char* name, int offset, std::int32_t value) {
        writeRegisterChecked(sender, notifier, defs.findRegisterByName(name) + offset, value, false);
    };
    for (int i = 0; i < 4; ++i) write("KFF3", i, k[static_cast<std::size_t>(i)]);
    for (int i = 0; i < 4; ++i) write("KVFX4", i, roundHalfAway(k[static_cast<std::size_t>(6 + i)] * 0.0625));
    for (int i = 0; i < 4; ++i) write("KVB3", i, k[static_cast<std::size_t>(18 + i)]);
    normaliseToSum(&k[12], 4, 16, 4096);
    for (int i = 0; i < 4; ++i) write("KVFY3", i, k[static_cast<std::size_t>(12 + i)]);
    return {};
}

}  // namespace vindelor::registers
