#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace ostrel::testing {

// A fresh program folder for one test, removed afterwards.
class TempProgramFolder {
public:
    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }
    QByteArray read(const QString& name) const;
    void write(const QString& name, const QByteArray& content) const;
    bool exists(const QString& name) const { return QFile::exists(file(name)); }
    // The files in the folder that others than their owner may read or write.
    QStringList open_to_others() const;

private:
    QTemporaryDir dir_;
};

}  // namespace ostrel::testing
