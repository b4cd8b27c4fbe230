#include "sim/DeviceDump.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "sim/BootModeMotor.h"
#include "sim/Bootloader.h"
#include "sim/FlashBootloader.h"

namespace vindelor::sim {
namespace {

void AppendLine(std::string& out, const char* name, std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    char head[48];
    std::snprintf(head, sizeof head, "%s 0x%06X ", name, static_cast<unsigned>(address));
    out += head;
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (const std::uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    out += '\n';
}

void AppendFlag(std::string& out, const char* name, bool value) {
    out += name;
    out += value ? " 0x000000 01\n" : " 0x000000 00\n";
}

}  // namespace

std::string DeviceMemoryText(const Bootloader* module, const FlashBootloader* flash, const BootModeMotor* motor) {
    std::string out;
    if (module)
        for (const auto& [address, bytes] : module->flash()) AppendLine(out, "flash", address, bytes);
    if (flash) {
        AppendLine(out, "flash-file", 0, flash->flashFile());
        AppendFlag(out, "flash-file-erased", flash->flashFileErased());
    }
    if (motor) {
        AppendLine(out, "firmware", 0, motor->firmware());
        AppendLine(out, "fpga", 0, motor->fpga());
        AppendFlag(out, "download-finished", motor->finished());
    }
    return out;
}

}  // namespace vindelor::sim
