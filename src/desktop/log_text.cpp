#include "desktop/log_text.h"

#include <QSaveFile>

#include "core/date_time_text.h"
#include "core/line_split.h"

namespace ostrel {

QString log_viewer_text(const QByteArray& content) {
    const QList<QByteArray> lines = split_line_bytes(content);
    QByteArray text;
    text.reserve(content.size() + 2 * lines.size() + 2);
    for (const QByteArray& line : lines) {
        text += "\r\n";
        text += line;
    }
    // One decode of the whole text: a multi-byte character is never split.
    return QString::fromUtf8(text);
}

QString log_created_line(const QDateTime& moment) {
    return date_time_text(moment) + QStringLiteral(" File created!");
}

QString rewrite_log_as_created(const QString& path, const QDateTime& moment) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return QStringLiteral("cannot rewrite %1: %2").arg(path, file.errorString());
    }
    file.write((log_created_line(moment) + QStringLiteral("\r\n")).toUtf8());
    // A flush that fails (a full disk) must keep the old file: commit()
    // alone would still put the short new one in its place.
    if (!file.flush()) {
        file.cancelWriting();
    }
    if (!file.commit()) {
        return QStringLiteral("cannot rewrite %1: %2").arg(path, file.errorString());
    }
    return {};
}

}  // namespace ostrel
