#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

namespace ostrel {

// "<what> <file name>: <reason>", the way a failed file step is told.
QString file_failure(const QString& what, const QFileDevice& file);

// Replaces the file at `path` by `content` in one step (QSaveFile). A failed
// open, write, flush (a full disk) or rename leaves the old file whole, where
// commit() alone would still put a short new one in its place. `permissions`,
// when given, are set on the new file. Returns an empty text, or
// "<failure> <path>: <reason>".
[[nodiscard]] QString replace_whole_file(const QString& path, const QByteArray& content,
                                         const QString& failure = QStringLiteral("cannot write"),
                                         QFileDevice::Permissions permissions = {});

}  // namespace ostrel
