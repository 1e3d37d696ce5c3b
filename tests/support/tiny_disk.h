#pragma once

#include <unistd.h>
#include <QFile>
#include <QProcess>
#include <QString>

namespace ostrel::testing {

// A tiny tmpfs over a program folder, so that a full disk or a read-only
// folder can be staged even for root; unmounted when it goes.
class TinyDisk {
public:
    explicit TinyDisk(const QString& folder, const QString& options = QStringLiteral("size=64k"))
        : folder_(folder) {
        if (::geteuid() == 0) {
            mounted_ =
                QProcess::execute("mount", {"-t", "tmpfs", "-o", options, "tmpfs", folder_}) == 0;
        }
    }
    ~TinyDisk() {
        if (mounted_) {
            QProcess::execute("umount", {folder_});
        }
    }
    bool mounted() const { return mounted_; }

    // Writes filler until the disk refuses another byte.
    void fill() const {
        QFile filler(folder_ + QStringLiteral("/filler"));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
            return;
        }
        while (filler.write("f", 1) == 1) {
        }
    }

private:
    QString folder_;
    bool mounted_ = false;
};

}  // namespace ostrel::testing
