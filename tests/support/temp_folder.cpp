#include "support/temp_folder.h"

#include <QDir>
#include <QFile>

namespace ostrel::testing {

QByteArray TempProgramFolder::read(const QString& name) const {
    QFile f(file(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void TempProgramFolder::write(const QString& name, const QByteArray& content) const {
    QFile f(file(name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        f.write(content);
    }
}

QStringList TempProgramFolder::open_to_others() const {
    constexpr QFileDevice::Permissions kOthers{QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                               QFileDevice::ReadOther | QFileDevice::WriteOther};
    QStringList names;
    for (const QFileInfo& info : QDir(path()).entryInfoList(QDir::Files | QDir::Hidden)) {
        if (info.permissions() & kOthers) {
            names << info.fileName();
        }
    }
    return names;
}

}  // namespace ostrel::testing
