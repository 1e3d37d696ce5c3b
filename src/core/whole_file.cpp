#include "core/whole_file.h"

#include <QSaveFile>

namespace ostrel {

QString replace_whole_file(const QString& path, const QByteArray& content, const QString& failure,
                           QFileDevice::Permissions permissions) {
    QSaveFile file(path);
    const auto failed = [&] {
        return QStringLiteral("%1 %2: %3").arg(failure, path, file.errorString());
    };
    if (!file.open(QIODevice::WriteOnly)) {
        return failed();
    }
    if (permissions) {
        file.setPermissions(permissions);
    }
    if (file.write(content) != content.size() || !file.flush()) {
        file.cancelWriting();
    }
    if (!file.commit()) {
        return failed();
    }
    return {};
}

}  // namespace ostrel
