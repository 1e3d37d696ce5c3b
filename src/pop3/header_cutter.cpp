#include "pop3/header_cutter.h"

namespace ostrel {

namespace {

QStringView strip_line_end(QStringView line) {
    return line.endsWith(QLatin1Char('\r')) ? line.chopped(1) : line;
}

QString value_after(QStringView line, qsizetype colon) {
    QStringView value = line.mid(colon + 1);
    if (value.startsWith(QLatin1Char(' ')) || value.startsWith(QLatin1Char('\t'))) {
        value = value.mid(1);
    }
    return value.toString();
}

}  // namespace

QString header_value(QStringView block, QStringView name) {
    qsizetype start = 0;
    while (start < block.size()) {
        qsizetype end = block.indexOf(QLatin1Char('\n'), start);
        if (end < 0) {
            end = block.size();
        }
        const QStringView line = strip_line_end(block.mid(start, end - start));
        if (line.isEmpty()) {
            break;
        }
        if (line.size() > name.size() && line.at(name.size()) == QLatin1Char(':') &&
            line.startsWith(name, Qt::CaseInsensitive)) {
            return value_after(line, name.size());
        }
        start = end + 1;
    }
    return QString();
}

HeaderValues cut_headers(QStringView block) {
    return {header_value(block, u"From"), header_value(block, u"Subject")};
}

}  // namespace ostrel
