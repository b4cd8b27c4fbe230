#include "app/SingleInstance.h"

#include <QDir>

namespace vindelor::app {

QString SingleInstance::lockPath() { return QDir(QDir::tempPath()).filePath(QString::fromLatin1(kLockName)); }

SingleInstance::SingleInstance() : lock_(std::make_unique<QLockFile>(lockPath())) {
    // Only a lock whose owner is gone counts as stale, however old it is.
    lock_->setStaleLockTime(0);
    acquired_ = lock_->tryLock(0);
}

}  // namespace vindelor::app
