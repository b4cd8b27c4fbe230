#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

namespace vindelor::app {

// The lock that admits one running program per user: "VINDELOR.MUTEX.lock" in the user's
// runtime folder, so that neither another user's instance nor a lock another user left behind
// stops anyone else. A lock left behind by a crashed instance is taken over.
class SingleInstance {
public:
    static constexpr const char* kLockName = "VINDELOR.MUTEX.lock";

    SingleInstance();
    // True when this process now holds the lock (until it ends).
    bool acquired() const { return acquired_; }
    static QString lockPath();
    // $XDG_RUNTIME_DIR when it is a folder of this user's; otherwise "vindelor-<user id>" in the
    // temporary folder, made for this user alone (and only used while it is that).
    static QString runtimeFolder();

  private:
    std::unique_ptr<QLockFile> lock_;
    bool acquired_ = false;
};

}  // namespace vindelor::app
