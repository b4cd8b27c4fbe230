#pragma once

#include <memory>
#include <random>
#include <vector>

#include "sim/DeviceModel.h"
#include "sim/Faults.h"

namespace vindelor::testing {

// A second device at one address: every reply to a request for that address is followed at
// once by another well-formed one with other data, as a device with a slightly longer
// turnaround answers.
class SecondDeviceAt : public sim::DeviceModel {
  public:
    SecondDeviceAt(std::shared_ptr<sim::DeviceModel> line, int address)
        : line_(std::move(line)), address_(address) {}
    void onByte(std::uint8_t b, sim::Clock::time_point at, std::vector<std::uint8_t>& reply) override {
        // The byte after a letter sent three times is the request's destination.
        if (lettersSeen_ == 3) destination_ = b;
        lettersSeen_ = lettersSeen_ > 0 && lettersSeen_ < 3 && b == letter_ ? lettersSeen_ + 1 : 1;
        letter_ = b;
        line_->onByte(b, at, reply);
        if (reply.empty() || destination_ != address_) return;
        const auto other = sim::WithOtherData(reply, rng_);
        reply.insert(reply.end(), other.begin(), other.end());
    }
    std::vector<LaterOutput> takeLaterOutput() override { return line_->takeLaterOutput(); }

  private:
    std::shared_ptr<sim::DeviceModel> line_;
    int address_;
    int letter_ = -1;
    int lettersSeen_ = 0;
    int destination_ = -1;
    std::mt19937_64 rng_{7};
};

}  // namespace vindelor::testing
