#include "protocol/QueueSink.h"

namespace vindelor::protocol {

void QueueSink::push(ReceivedMessage m) {
    m.at = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(m));
    arrived_.notify_all();
}

void QueueSink::post(int number, std::int64_t wParam, std::int64_t lParam) {
    push({number, wParam, lParam, {}, {}, false});
}

void QueueSink::send(const Message& m) {
    push({m.number, m.wParam, m.lParam, {m.payload.begin(), m.payload.end()},
          std::string(m.text), true});
}

std::optional<ReceivedMessage> QueueSink::take(
    const std::function<bool(const ReceivedMessage&)>& match, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t scanned = 0;
    for (;;) {
        for (; scanned < queue_.size(); ++scanned) {
            if (match(queue_[scanned])) {
                ReceivedMessage m = std::move(queue_[scanned]);
                queue_.erase(queue_.begin() + static_cast<std::ptrdiff_t>(scanned));
                return m;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        arrived_.wait_until(lock, deadline);
    }
}

std::optional<ReceivedMessage> QueueSink::take(int number, std::chrono::milliseconds timeout) {
    return take([number](const ReceivedMessage& m) { return m.number == number; }, timeout);
}

std::vector<ReceivedMessage> QueueSink::drain() {
    std::lock_guard lock(mutex_);
    std::vector<ReceivedMessage> out(std::make_move_iterator(queue_.begin()),
                                     std::make_move_iterator(queue_.end()));
    queue_.clear();
    return out;
}

void QueueSink::clear() {
    std::lock_guard lock(mutex_);
    queue_.clear();
}

}  // namespace vindelor::protocol
