#include "core/single_instance.h"

namespace ostrel {

QString instance_lock_path(const QString& data_folder) {
    return data_folder + QStringLiteral("/ostrel.lock");
}

SingleInstance::SingleInstance(QString lock_path) : lock_path_(std::move(lock_path)) {}

bool SingleInstance::acquire() {
    if (lock_ && lock_->isLocked()) {
        return true;
    }
    lock_ = std::make_unique<QLockFile>(lock_path_);
    // A lock is stale only when its owner has gone, never because of its age:
    // the program runs for weeks.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0)) {
        return true;
    }
    // Only a running copy refuses the start. A folder where no lock file can
    // be made (read-only, full) is one where no data file can be replaced
    // either, so there is nothing two copies could spoil: the program runs
    // and its own failures to write say why.
    return lock_->error() != QLockFile::LockFailedError;
}

}  // namespace ostrel
