#include "app/PortJob.h"

#include <QEventLoop>

#include <exception>
#include <thread>

namespace vindelor::app {

void RunPortJob(const std::function<void()>& job) {
    QEventLoop loop;
    std::exception_ptr error;
    std::thread worker([&] {
        try {
            job();
        } catch (...) {
            error = std::current_exception();
        }
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    if (error) std::rethrow_exception(error);
}

void PostToWindow(QObject* context, std::function<void()> fn) {
    QMetaObject::invokeMethod(context, std::move(fn), Qt::QueuedConnection);
}

}  // namespace vindelor::app
