#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace vindelor::util {

// A worker thread in the style the tool's threads expect: a terminate request checked by the
// loop, suspension only at a point the thread chooses (SuspendSelf), resume from outside, and
// wait-for-end. No thread is ever killed.
//
// A derived class calls Start() at the end of its constructor and Stop() at the start of its
// destructor, so Execute() never runs on a half-built or half-destroyed object.
class WorkerThread {
public:
    WorkerThread() = default;
    virtual ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Asks the loop to end. A thread parked in SuspendSelf() wakes up and ends too.
    void Terminate();
    bool Terminated() const;
    // Waits until Execute() has returned. Safe to call more than once.
    void WaitFor();
    // Terminate() and WaitFor().
    void Stop();

    // Lets a thread parked in SuspendSelf() go on. From here on the thread no longer counts
    // as parked, so a WaitUntilSuspended() that follows waits for it to park again.
    void Resume();
    // True once Execute() has returned.
    bool Finished() const;
    // Blocks until the thread parks in SuspendSelf() after the last Resume(), or has finished;
    // true when parked. While the worker waits for the calling thread (see BeginOwnerWait),
    // `service` runs on the calling thread so that neither waits for the other for ever.
    bool WaitUntilSuspended(const std::function<void()>& service = {});

protected:
    void Start();
    virtual void Execute() = 0;
    // Called by Terminate(), on the terminating thread: wakes whatever the loop waits on.
    virtual void WakeForTerminate() {}
    // Parks the calling (worker) thread until Resume() or Terminate().
    void SuspendSelf();
    // Bracket a call in which the worker waits for another thread (a message handed to the
    // window thread), which may itself be waiting in WaitUntilSuspended().
    void BeginOwnerWait();
    void EndOwnerWait();

private:
    void Run();

    static constexpr std::chrono::milliseconds kOwnerWaitRetry {5};

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool terminated_ = false;
    bool suspended_ = false;
    bool resumeRequested_ = false;
    bool finished_ = false;
    bool ownerWaiting_ = false;
    std::uint64_t ownerWaits_ = 0;  // owner waits begun so far
    std::thread thread_;
};

}  // namespace vindelor::util
