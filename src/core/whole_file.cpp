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
    if (permissions) {
        file.setPermissions(permissions);
    }
    if (file.write(content) != content.size() || !file.flush()) {
        file.cancelWriting();
    }
    if (!file.commit()) {
        return file_failure(failure, file);
    }
    return {};
}

}  // namespace ostrel
