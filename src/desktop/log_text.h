#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace ostrel {

// The log viewer's text for the log file's content: every line of the file
// (ended by CR LF or CR alone; the last may be unended) preceded by CR LF, so
// the text opens with an empty line. Built in one pass, in time linear in the
// size of the log.
QString log_viewer_text(const QByteArray& content);

// The one line a freshly cleared log holds: date, blank, time, " File created!".
QString log_created_line(const QDateTime& moment = QDateTime::currentDateTime());

// Replaces the log with that one line, CR LF ended. The rewrite is atomic: on
// failure the old log is left whole. Returns an error description, empty on
// success.
[[nodiscard]] QString rewrite_log_as_created(
    const QString& path, const QDateTime& moment = QDateTime::currentDateTime());

}  // namespace ostrel
