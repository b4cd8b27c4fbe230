#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "sim/DeviceModel.h"
#include "sim/RegisterDevice.h"

namespace vindelor::sim {

// Several register devices on one RS-485 line, behind one pseudo-terminal. Every device hears
// every byte the tool sends and answers what is meant for it: the requests to its own address
// and to 255 (everyone), and the group writes of its group.
//
// A line has room for one transmitter at a time. When a request makes more than one device
// answer (a read sent to 255), their replies start together and collide: no two transmitters
// start in the same bit time, so each byte the receiver sees is the bits of the colliding
// bytes ANDed one bit apart, which breaks the pairs and the trailer of every reply involved.
// A device given a reply delay answers that much later than the others; its reply goes out
// after whatever the line carries before it.
class RegisterBus : public DeviceModel {
  public:
    void add(std::shared_ptr<RegisterDevice> device, int replyDelayMs = 0);
    void setReplyDelayMs(std::size_t index, int ms);
    std::size_t size() const;
    std::shared_ptr<RegisterDevice> device(std::size_t index) const;

    void onByte(std::uint8_t b, Clock::time_point at, std::vector<std::uint8_t>& reply) override;
    std::vector<LaterOutput> takeLaterOutput() override;

    // Requests that more than one device answered at once.
    int collisions() const;

    // The bytes a receiver sees when these replies start at the same time.
    static std::vector<std::uint8_t> Collide(const std::vector<std::vector<std::uint8_t>>& replies);

  private:
    struct Member {
        std::shared_ptr<RegisterDevice> device;
        int replyDelayMs = 0;
    };

    mutable std::mutex mutex_;
    std::vector<Member> members_;
    std::vector<LaterOutput> later_;
    int collisions_ = 0;
};

}  // namespace vindelor::sim
