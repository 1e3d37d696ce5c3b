#include "core/event_log.h"

#include <QFile>

#include "core/date_time_text.h"
#include "core/whole_file.h"

namespace ostrel {

namespace {

// A server's error text or a hand-edited server name may hold line breaks;
// shown escaped they cannot forge a second log line.
QString one_line(QString text) {
    text.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return text;
}

}  // namespace

EventLog::EventLog(QString path, std::function<void()> on_fatal)
    : path_(std::move(path)), on_fatal_(std::move(on_fatal)) {}

void EventLog::log_event(const QString& text) {
    QFile file(path_);
    if (open_owner_only(file, QIODevice::WriteOnly | QIODevice::Append)) {
        const QString line =
            date_time_text() + QStringLiteral(" - ") + one_line(text) + QStringLiteral("\r\n");
        file.write(line.toUtf8());
        file.close();
    }
    if (text.contains(QLatin1String("Fatal")) && on_fatal_) {
        on_fatal_();
    }
}

}  // namespace ostrel
