#include "app/QtMessageSink.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <memory>
#include <string>
#include <vector>

namespace vindelor::app {

namespace {

// A sent message with its own payload and text, kept alive by whichever side finishes last.
struct Pending {
    protocol::Message message;
    std::vector<std::uint8_t> payload;
    std::string text;
    bool done = false;
    bool dropped = false;
};

}  // namespace

QtMessageSink::QtMessageSink(QObject* receiver, Handler handler)
    : receiver_(receiver), handler_(std::move(handler)) {}

void QtMessageSink::post(int number, std::int64_t wParam, std::int64_t lParam) {
    QObject* receiver = receiver_.data();
    if (!receiver) return;
    QMetaObject::invokeMethod(
        receiver,
        [this, number, wParam, lParam] {
            protocol::Message m;
            m.number = number;
            m.wParam = wParam;
            m.lParam = lParam;
            handler_(m);
        },
        Qt::QueuedConnection);
}

void QtMessageSink::send(const protocol::Message& message) {
    QObject* receiver = receiver_.data();
    if (!receiver) return;
    if (QThread::currentThread() == receiver->thread()) {
        handler_(message);
        return;
    }
    auto pending = std::make_shared<Pending>();
    pending->payload.assign(message.payload.begin(), message.payload.end());
    pending->text.assign(message.text);
    pending->message = message;
    pending->message.payload = pending->payload;
    pending->message.text = pending->text;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
    }
    QMetaObject::invokeMethod(
        receiver,
        [this, pending] {
            {
                std::lock_guard lock(mutex_);
                if (pending->dropped) return;
            }
            handler_(pending->message);
            {
                std::lock_guard lock(mutex_);
                pending->done = true;
            }
            handled_.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(mutex_);
    handled_.wait(lock, [&] { return pending->done || stopping_; });
    if (!pending->done) pending->dropped = true;
}

void QtMessageSink::deliverPending() {
    QObject* receiver = receiver_.data();
    if (!receiver || QThread::currentThread() != receiver->thread()) return;
    // Queued calls are meta-call events: sending those of the receiver handles posted and sent
    // messages alike, in the order they came.
    QCoreApplication::sendPostedEvents(receiver, QEvent::MetaCall);
}

void QtMessageSink::stopWorkers(bool on) {
    {
        std::lock_guard lock(mutex_);
        stopping_ = on;
    }
    handled_.notify_all();
}

}  // namespace vindelor::app
