#include "sim/ModuleWithBootloader.h"

namespace vindelor::sim {

ModuleWithBootloader::ModuleWithBootloader(std::shared_ptr<Bootloader> loader,
                                           std::shared_ptr<RegisterDevice> firmware)
    : loader_(std::move(loader)), firmware_(std::move(firmware)) {}

void ModuleWithBootloader::onToolRate(int baud) {
    toolRate_ = baud;
    loader_->onToolRate(baud);
}

void ModuleWithBootloader::onByte(std::uint8_t b, Clock::time_point at,
                                  std::vector<std::uint8_t>& reply) {
    // The firmware hears the byte only when it runs and the byte came at its rate; a byte that
    // starts the bootloader (the end of the reset request) is the firmware's last.
    const bool firmwareHears =
        loader_->runningFirmware() && (toolRate_ == 0 || toolRate_ == Bootloader::kFirmwareBaud);
    loader_->onByte(b, at, reply);
    if (firmwareHears) firmware_->onByte(b, at, reply);
}

std::vector<DeviceModel::LaterOutput> ModuleWithBootloader::takeLaterOutput() {
    auto later = loader_->takeLaterOutput();
    for (auto& l : firmware_->takeLaterOutput()) later.push_back(std::move(l));
    return later;
}

}  // namespace vindelor::sim
