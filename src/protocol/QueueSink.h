#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Messages.h"

namespace vindelor::protocol {

// A message as kept by QueueSink: the payload and text copied.
struct ReceivedMessage {
    int number = 0;
    std::int64_t wParam = 0;
    std::int64_t lParam = 0;
    std::vector<std::uint8_t> payload;
    std::string text;
    bool sent = false;
    // When it was queued: the time a reply was in, however late its taker comes to it.
    std::chrono::steady_clock::time_point at {};
};

// The message sink of the command line and of the tests: a plain queue that any thread may
// wait on. send() returns once the message is queued, which is when it counts as handled.
class QueueSink : public MessageSink {
public:
    void post(int number, std::int64_t wParam, std::int64_t lParam) override;
    void send(const Message& message) override;

    // Takes the first queued message that matches (messages before it stay), waiting up to
    // timeout for one to arrive.
    std::optional<ReceivedMessage> take(const std::function<bool(const ReceivedMessage&)>& match,
                                        std::chrono::milliseconds timeout);
    std::optional<ReceivedMessage> take(int number, std::chrono::milliseconds timeout);
    // Everything queued so far, in order; the queue is emptied.
    std::vector<ReceivedMessage> drain();
    void clear();

private:
    void push(ReceivedMessage m);
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<ReceivedMessage> queue_;
};

}  // namespace vindelor::protocol
