#include "core/single_instance.h"

#include <QDir>
#include <QStandardPaths>

namespace ostrel {

SingleInstance::SingleInstance(QString lock_path) : lock_path_(std::move(lock_path)) {}

QString SingleInstance::default_lock_path() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    return folder + QStringLiteral("/ostrel.lock");
}

bool SingleInstance::acquire() {
    if (lock_ && lock_->isLocked()) {
        return true;
    }
    lock_ = std::make_unique<QLockFile>(lock_path_);
    // A lock is stale only when its owner has gone, never because of its age:
    // the program runs for weeks.
    lock_->setStaleLockTime(0);
    return lock_->tryLock(0);
}

}  // namespace ostrel
