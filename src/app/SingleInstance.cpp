#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vindelor::app {

namespace {

#ifdef Q_OS_UNIX
// A real folder (not a link) that belongs to this user and that nobody else may write to.
bool OwnPrivateFolder(const QString& path, bool groupAndOthersMayRead) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
    const mode_t forbidden = groupAndOthersMayRead ? (S_IWGRP | S_IWOTH) : (S_IRWXG | S_IRWXO);
    return (st.st_mode & forbidden) == 0;
}
#endif

}  // namespace

QString SingleInstance::runtimeFolder() {
#ifdef Q_OS_UNIX
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty() && OwnPrivateFolder(xdg, true)) return xdg;
    const QString own =
        QDir(QDir::tempPath()).filePath(QStringLiteral("vindelor-%1").arg(::geteuid()));
    ::mkdir(QFile::encodeName(own).constData(), 0700);
    if (OwnPrivateFolder(own, false)) return own;
    // Someone else holds that name: a name of this user's own in the temporary folder is the
    // last resort (the lock file itself is then this user's).
    return QString();
#else
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
#endif
}

QString SingleInstance::lockPath() {
    const QString folder = runtimeFolder();
    if (!folder.isEmpty()) return QDir(folder).filePath(QString::fromLatin1(kLockName));
#ifdef Q_OS_UNIX
    const QString name = QStringLiteral("VINDELOR.MUTEX-%1.lock").arg(::geteuid());
#else
    const QString name = QString::fromLatin1(kLockName);
#endif
    return QDir(QDir::tempPath()).filePath(name);
}

SingleInstance::SingleInstance() : lock_(std::make_unique<QLockFile>(lockPath())) {
    // Only a lock whose owner is gone counts as stale, however old it is.
    lock_->setStaleLockTime(0);
    acquired_ = lock_->tryLock(0);
}

}  // namespace vindelor::app
