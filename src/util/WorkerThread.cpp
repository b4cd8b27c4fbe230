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
    {
        std::lock_guard lock(mutex_);
        terminated_ = true;
        changed_.notify_all();
    }
    WakeForTerminate();
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
    if (suspended_) {
        resumeRequested_ = true;
        // Parked no more, even before the worker has woken: a pause right after this must wait
        // for the worker to park again, not take the old state for the new one.
        suspended_ = false;
    }
    changed_.notify_all();
}

bool WorkerThread::Finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

bool WorkerThread::WaitUntilSuspended(const std::function<void()>& service) {
    std::unique_lock lock(mutex_);
    const auto parked = [this] { return suspended_ || finished_ || !thread_.joinable(); };
    if (!service) {
        changed_.wait(lock, parked);
        return suspended_;
    }
    std::uint64_t serviced = 0;
    for (;;) {
        changed_.wait(lock, [&] { return parked() || (ownerWaiting_ && ownerWaits_ != serviced); });
        if (parked()) return suspended_;
        // The worker has said it waits for us, but what it waits on may not have reached us
        // yet: serve, then serve again after a short while for as long as it still waits.
        serviced = ownerWaits_;
        do {
            lock.unlock();
            service();
            lock.lock();
        } while (!changed_.wait_for(lock, kOwnerWaitRetry, [&] {
            return parked() || !ownerWaiting_ || ownerWaits_ != serviced;
        }));
        serviced = ownerWaits_;
    }
}

void WorkerThread::BeginOwnerWait() {
    std::lock_guard lock(mutex_);
    ownerWaiting_ = true;
    ++ownerWaits_;
    changed_.notify_all();
}

void WorkerThread::EndOwnerWait() {
    std::lock_guard lock(mutex_);
    ownerWaiting_ = false;
    changed_.notify_all();
}

void WorkerThread::SuspendSelf() {
    std::unique_lock lock(mutex_);
    suspended_ = true;
    resumeRequested_ = false;
    changed_.notify_all();
    changed_.wait(lock, [this] { return resumeRequested_ || terminated_; });
    suspended_ = false;
    resumeRequested_ = false;
    changed_.notify_all();
}

}  // namespace vindelor::util
