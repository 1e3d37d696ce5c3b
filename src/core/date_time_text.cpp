#include "core/date_time_text.h"

#include <QLocale>

namespace ostrel {

namespace {

// Qt's short time format drops the seconds in many locales; put them back
// after the minutes so that two events in one minute can be told apart.
QString time_format_with_seconds(const QLocale& locale) {
    QString format = locale.timeFormat(QLocale::ShortFormat);
    if (format.contains(QLatin1Char('s'))) {
        return format;
    }
    const int minutes = format.lastIndexOf(QLatin1String("mm"));
    if (minutes < 0) {
        return locale.timeFormat(QLocale::LongFormat);
    }
    format.insert(minutes + 2, QLatin1String(":ss"));
    return format;
}

}  // namespace

QString date_time_text(const QDateTime& moment) {
    // The default locale: the user's own unless QLocale::setDefault chose another.
    const QLocale locale;
    return locale.toString(moment.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(moment.time(), time_format_with_seconds(locale));
}

}  // namespace ostrel
