#pragma once

#include <QString>
#include <functional>

namespace ostrel {

// The event log: one dated line per call, appended and closed at once, so the
// log viewer or an editor can read the file at any time.
class EventLog {
public:
    explicit EventLog(QString path, std::function<void()> on_fatal = {});

    // Writes date, " ", time, " - ", text, CR LF. A text holding "Fatal" (case
    // matters) also calls the fatal hook, which shows the error image. A log
    // that cannot be written loses the line; nothing else happens.
    void log_event(const QString& text);

    const QString& path() const { return path_; }
    void set_on_fatal(std::function<void()> on_fatal) { on_fatal_ = std::move(on_fatal); }

private:
    QString path_;
    std::function<void()> on_fatal_;
};

}  // namespace ostrel
