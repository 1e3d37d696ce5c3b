#pragma once

#include <QString>

class QWidget;

namespace ostrel {

class EventLog;

// The log line and the message for a desktop without any tray host: the
// program runs on, but its menu cannot be reached until a tray appears.
QString tray_missing_log_text();
QString tray_missing_message();

// Logs the line and shows the message without waiting for an answer.
void tell_tray_missing(QWidget* parent, EventLog& log);

}  // namespace ostrel
