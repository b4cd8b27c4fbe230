#pragma once

#include <memory>
#include <vector>

#include "sim/Bootloader.h"
#include "sim/DeviceModel.h"
#include "sim/RegisterDevice.h"

namespace vindelor::sim {

// An expansion module whole: while its firmware runs it talks the register protocol at the
// firmware's rate (the text poll above all, which the register device answers) and listens
// for its reset request; after that its bootloader has the line, as the Bootloader model has
// it, until the new firmware runs.
class ModuleWithBootloader : public DeviceModel {
  public:
    ModuleWithBootloader(std::shared_ptr<Bootloader> loader,
                         std::shared_ptr<RegisterDevice> firmware);

    void onByte(std::uint8_t b, Clock::time_point at, std::vector<std::uint8_t>& reply) override;
    int lineRate() const override { return loader_->lineRate(); }
    bool hearsGarbled() const override { return true; }
    void onToolRate(int baud) override;
    std::vector<LaterOutput> takeLaterOutput() override;

    Bootloader& loader() { return *loader_; }
    RegisterDevice& firmware() { return *firmware_; }

  private:
    std::shared_ptr<Bootloader> loader_;
    std::shared_ptr<RegisterDevice> firmware_;
    int toolRate_ = 0;  // only touched on the simulator's thread
};

}  // namespace vindelor::sim
