#include "sim/RegisterBus.h"

#include <algorithm>
#include <map>
#include <utility>

namespace vindelor::sim {

namespace {
constexpr std::size_t kMaxLagBits = 7;
}  // namespace

void RegisterBus::add(std::shared_ptr<RegisterDevice> device, int replyDelayMs) {
    std::lock_guard lock(mutex_);
    members_.push_back({std::move(device), replyDelayMs});
}

void RegisterBus::setReplyDelayMs(std::size_t index, int ms) {
    std::lock_guard lock(mutex_);
    members_.at(index).replyDelayMs = ms;
}

std::size_t RegisterBus::size() const {
    std::lock_guard lock(mutex_);
    return members_.size();
}

std::shared_ptr<RegisterDevice> RegisterBus::device(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return members_.at(index).device;
}

int RegisterBus::collisions() const {
    std::lock_guard lock(mutex_);
    return collisions_;
}

std::vector<std::uint8_t> RegisterBus::Collide(
    const std::vector<std::vector<std::uint8_t>>& replies) {
    std::size_t length = 0;
    for (const auto& r : replies) length = std::max(length, r.size());
    std::vector<std::uint8_t> line(length, 0xFF);
    for (std::size_t k = 0; k < replies.size(); ++k) {
        // The k-th transmitter runs k bits behind the first: in the first one's data bits the
        // receiver sees its idle line (high), its start bit (low), then its data bits.
        const unsigned lag = static_cast<unsigned>(std::min<std::size_t>(k, kMaxLagBits));
        const unsigned idle = lag == 0 ? 0u : (1u << (lag - 1)) - 1;
        for (std::size_t i = 0; i < replies[k].size(); ++i) {
            const unsigned seen = (static_cast<unsigned>(replies[k][i]) << lag) | idle;
            line[i] = static_cast<std::uint8_t>(line[i] & seen);
        }
    }
    return line;
}

void RegisterBus::onByte(std::uint8_t b, Clock::time_point at, std::vector<std::uint8_t>& reply) {
    std::lock_guard lock(mutex_);
    // Replies to this byte, by how late they start.
    std::map<int, std::vector<std::vector<std::uint8_t>>> answers;
    for (auto& m : members_) {
        std::vector<std::uint8_t> own;
        m.device->onByte(b, at, own);
        if (!own.empty()) answers[m.replyDelayMs].push_back(std::move(own));
    }
    for (auto& [delay, replies] : answers) {
        if (replies.size() > 1) ++collisions_;
        std::vector<std::uint8_t> bytes =
            replies.size() == 1 ? std::move(replies.front()) : Collide(replies);
        if (delay == 0)
            reply.insert(reply.end(), bytes.begin(), bytes.end());
        else
            later_.push_back({delay, std::move(bytes)});
    }
}

std::vector<DeviceModel::LaterOutput> RegisterBus::takeLaterOutput() {
    std::lock_guard lock(mutex_);
    return std::exchange(later_, {});
}

}  // namespace vindelor::sim
