#include "mail/header_cutter.h"

namespace ostrel {

namespace {

// One line of a block without its line end, and where the next one starts.
struct Line {
    QStringView text;
    qsizetype next = 0;
};

Line line_at(QStringView block, qsizetype start) {
    qsizetype end = block.indexOf(QLatin1Char('\n'), start);
    if (end < 0) {
        end = block.size();
    }
    QStringView text = block.mid(start, end - start);
    if (text.endsWith(QLatin1Char('\r'))) {
        text.chop(1);
    }
    return {text, end + 1};
}

bool is_continuation(QStringView line) {
    return line.startsWith(QLatin1Char(' ')) || line.startsWith(QLatin1Char('\t'));
}

// Where the first line named `name` starts; -1 when there is none.
qsizetype find_header(QStringView block, QStringView name) {
    qsizetype start = 0;
    while (start < block.size()) {
        const Line line = line_at(block, start);
        if (line.text.isEmpty()) {
            break;
        }
        if (line.text.size() > name.size() && line.text.at(name.size()) == QLatin1Char(':') &&
            line.text.startsWith(name, Qt::CaseInsensitive)) {
            return start;
        }
        start = line.next;
    }
    return -1;
}

QStringView value_after(QStringView line, qsizetype colon) {
    QStringView value = line.mid(colon + 1);
    if (is_continuation(value)) {
        value = value.mid(1);
    }
    return value;
}

}  // namespace

QString header_value(QStringView block, QStringView name) {
    const qsizetype start = find_header(block, name);
    return start < 0 ? QString() : value_after(line_at(block, start).text, name.size()).toString();
}

QString header_field(QStringView block, QStringView name) {
    const qsizetype start = find_header(block, name);
    if (start < 0) {
        return QString();
    }
    Line line = line_at(block, start);
    QString field = value_after(line.text, name.size()).toString();
    while (line.next < block.size()) {
        line = line_at(block, line.next);
        if (!is_continuation(line.text)) {
            break;
        }
        field += QStringLiteral("\r\n");
        field += line.text;
    }
    return field;
}

HeaderFields cut_fields(QStringView block) {
    return {header_field(block, u"From"), header_field(block, u"Subject")};
}

// A field's first line holds no line feed, so its first CR LF is where the
// folded lines begin.
HeaderValues header_values(const HeaderFields& fields) {
    const auto first_line = [](const QString& field) {
        return field.left(field.indexOf(QStringLiteral("\r\n")));
    };
    return {first_line(fields.from), first_line(fields.subject),
            display_values(fields.from, fields.subject)};
}

HeaderValues cut_headers(QStringView block) {
    return header_values(cut_fields(block));
}

}  // namespace ostrel
