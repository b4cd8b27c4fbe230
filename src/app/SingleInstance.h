#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

namespace vindelor::app {

// The lock that admits one running program: "VINDELOR.MUTEX.lock" in the temporary folder
// ($TMPDIR). A lock left behind by a crashed instance is taken over.
class SingleInstance {
public:
    static constexpr const char* kLockName = "VINDELOR.MUTEX.lock";

    SingleInstance();
    // True when this process now holds the lock (until it ends).
    bool acquired() const { return acquired_; }
    static QString lockPath();

private:
    std::unique_ptr<QLockFile> lock_;
    bool acquired_ = false;
};

}  // namespace vindelor::app
