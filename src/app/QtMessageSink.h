#pragma once

#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "protocol/Messages.h"

namespace vindelor::app {

// Hands messages of worker threads to the window thread.
//
// post() queues a call on the window thread's event loop; posted and sent messages share that
// queue, so their order is kept. send() queues the call with its own copy of the payload and
// blocks the worker until the window has handled it. Unlike a blocking queued connection, the
// wait can be cut short: while the window stops a worker (it waits for the thread's end on the
// window thread, so it cannot handle the message the worker waits on), stopWorkers() lets
// every send() return at once. A message cut short this way is dropped unhandled.
class QtMessageSink : public protocol::MessageSink {
public:
    using Handler = std::function<void(const protocol::Message&)>;

    // The handler runs on the thread of receiver, and only while receiver exists.
    QtMessageSink(QObject* receiver, Handler handler);

    void post(int number, std::int64_t wParam, std::int64_t lParam) override;
    void send(const protocol::Message& message) override;
    // On the window thread: handles every message queued for the receiver so far, in order,
    // so a worker blocked in send() goes on while the window waits for it (a pause).
    void deliverPending() override;

    // While on, send() does not wait (and drops its message); used around stopping a worker.
    void stopWorkers(bool on);

private:
    QPointer<QObject> receiver_;
    Handler handler_;
    std::mutex mutex_;
    std::condition_variable handled_;
    bool stopping_ = false;
};

}  // namespace vindelor::app
