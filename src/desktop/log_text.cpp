#include "desktop/log_text.h"

#include "core/date_time_text.h"
#include "core/line_split.h"
#include "core/whole_file.h"

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
    return replace_whole_file(path, (log_created_line(moment) + QStringLiteral("\r\n")).toUtf8(),
                              QStringLiteral("cannot rewrite"));
}

}  // namespace ostrel
