#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

namespace ostrel {

// A per-user lock that tells whether another copy of the program runs. The
// lock is held for the life of the object and vanishes with the process.
class SingleInstance {
public:
    // The default lock lives in the user's runtime folder.
    explicit SingleInstance(QString lock_path = default_lock_path());

    // True when this process now holds the lock (or already held it).
    bool acquire();

    static QString default_lock_path();

private:
    QString lock_path_;
    std::unique_ptr<QLockFile> lock_;
};

}  // namespace ostrel
