#include "support/temp_folder.h"

#include <QFile>

namespace ostrel::testing {

TempProgramFolder::TempProgramFolder() = default;

QByteArray TempProgramFolder::read(const QString& name) const {
    QFile f(file(name));
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return f.readAll();
}

void TempProgramFolder::write(const QString& name, const QByteArray& content) const {
    QFile f(file(name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        f.write(content);
    }
}

bool TempProgramFolder::exists(const QString& name) const {
    return QFile::exists(file(name));
}

}  // namespace ostrel::testing
