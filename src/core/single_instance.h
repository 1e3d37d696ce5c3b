#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

namespace ostrel {

// The lock that keeps a second copy off one set of data files: a file in the
// data folder itself, so that every start that would use those files sees
// it, whatever the session (with or without XDG_RUNTIME_DIR, su, ssh, cron).
QString instance_lock_path(const QString& data_folder);

// Tells whether another copy of the program runs. The lock is held for the
// life of the object and goes with the process; a lock left by a copy that
// died is taken over.
class SingleInstance {
public:
    explicit SingleInstance(QString lock_path);

    // True when this process now holds the lock (or already held it), and
    // when no lock can be made at all (see the definition). The lock file is
    // made only by the copy that gets the lock: another copy reads it and
    // touches nothing.
    [[nodiscard]] bool acquire();

private:
    QString lock_path_;
    std::unique_ptr<QLockFile> lock_;
};

}  // namespace ostrel
