#include "util/WorkerThread.h"

namespace vindelor::util {

WorkerThread::~WorkerThread() { Stop(); }

void WorkerThread::Start() { thread_ = std::thread([this] { Run(); }); }

void WorkerThread::Run() {
    Execute();
    std::lock_guard lock(mutex_);
    finished_ = true;
    changed_.notify_all();
}

void WorkerThread::Terminate() {
    std::lock_guard lock(mutex_);
    terminated_ = true;
    changed_.notify_all();
}

bool WorkerThread::Terminated() const {
    std::lock_guard lock(mutex_);
    return terminated_;
}

void WorkerThread::WaitFor() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void WorkerThread::Stop() {
    Terminate();
    WaitFor();
}

void WorkerThread::Resume() {
    std::lock_guard lock(mutex_);
    if (suspended_) resumeRequested_ = true;
    changed_.notify_all();
}

bool WorkerThread::Finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

bool WorkerThread::WaitUntilSuspended() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return suspended_ || finished_ || !thread_.joinable(); });
    return suspended_;
}

void WorkerThread::SuspendSelf() {
    std::unique_lock lock(mutex_);
    suspended_ = true;
    resumeRequested_ = false;
    changed_.notify_all();
    changed_.wait(lock, [this] { return resumeRequested_ || terminated_; });
    suspended_ = false;
    resumeRequested_ = false;
}

}  // namespace vindelor::util
