#pragma once

#include <QByteArray>
#include <QFile>
#include <QFileDevice>
#include <QString>

namespace ostrel {

// Every data file holds something private (passwords, senders, subjects,
// servers), so every file the program writes is readable by its owner only.
inline constexpr QFileDevice::Permissions kOwnerOnly{QFileDevice::ReadOwner |
                                                     QFileDevice::WriteOwner};

// "<what> <file name>: <reason>", the way a failed file step is told.
QString file_failure(const QString& what, const QFileDevice& file);

// Replaces the file at `path` by `content` in one step (QSaveFile). A failed
// open, write, flush (a full disk) or rename leaves the old file whole, where
// commit() alone would still put a short new one in its place. The new file
// gets `permissions`, whatever the old one had. Returns an empty text, or
// "<failure> <path>: <reason>".
[[nodiscard]] QString replace_whole_file(const QString& path, const QByteArray& content,
                                         const QString& failure = QStringLiteral("cannot write"),
                                         QFileDevice::Permissions permissions = kOwnerOnly);

// Opens `file` with `mode`; a file this creates is owner-only from its first
// byte, and one that was readable by others is made owner-only.
[[nodiscard]] bool open_owner_only(QFile& file, QIODevice::OpenMode mode);

}  // namespace ostrel
