#pragma once

#include <memory>
#include <string>

namespace vindelor::sim {

class Bootloader;
class FlashBootloader;
class BootModeMotor;

// What a simulated device has been given to keep, as text a script can compare with what a
// tool claims to have written: one line a memory, "NAME ADDRESS HEX". A module's flash blocks
// ("flash 0x001000 ..."), the boot monitor's flash file ("flash-file 0 ...", with
// "flash-file-erased 0x000000 01" when 'F' came first), a boot-mode motor's firmware and FPGA
// configuration and whether its download ran to the end ("download-finished 0x000000 01").
// Null pointers are skipped.
std::string DeviceMemoryText(const Bootloader* module, const FlashBootloader* flash, const BootModeMotor* motor);

}  // namespace vindelor::sim
