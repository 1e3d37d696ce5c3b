#include "core/whole_file.h"

#include <QSaveFile>

namespace ostrel {

QString file_failure(const QString& what, const QFileDevice& file) {
    return QStringLiteral("%1 %2: %3").arg(what, file.fileName(), file.errorString());
}

QString replace_whole_file(const QString& path, const QByteArray& content, const QString& failure,
                           QFileDevice::Permissions permissions) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return file_failure(failure, file);
    }
    // QSaveFile gives the new file the old one's permissions, or the umask's:
    // neither is for the program to leave to chance.
    file.setPermissions(permissions);
    if (file.write(content) != content.size() || !file.flush()) {
        file.cancelWriting();
    }
    if (!file.commit()) {
        return file_failure(failure, file);
    }
    return {};
}

bool open_owner_only(QFile& file, QIODevice::OpenMode mode) {
    if (!file.open(mode, kOwnerOnly)) {
        return false;
    }
    constexpr QFileDevice::Permissions kOthers{QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                               QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                               QFileDevice::WriteOther | QFileDevice::ExeOther};
    if (file.permissions() & kOthers) {
        file.setPermissions(kOwnerOnly);
    }
    return true;
}

}  // namespace ostrel
