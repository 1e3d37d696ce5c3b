#pragma once

#include <QDateTime>
#include <QString>

namespace ostrel {

// The user's short date and time (with seconds), joined by one blank. The log,
// the seen-state files and the popups all render the moment with this function.
QString date_time_text(const QDateTime& moment = QDateTime::currentDateTime());

}  // namespace ostrel
