#include "mail/cached_fields.h"

namespace ostrel {

namespace {

// As header_field makes a field: each line feed is part of a CR LF that
// begins a folded line.
bool is_field(const QString& field) {
    for (qsizetype at = field.indexOf(QLatin1Char('\n')); at >= 0;
         at = field.indexOf(QLatin1Char('\n'), at + 1)) {
        if (at == 0 || field[at - 1] != QLatin1Char('\r') || at + 1 == field.size() ||
            (field[at + 1] != QLatin1Char(' ') && field[at + 1] != QLatin1Char('\t'))) {
            return false;
        }
    }
    return true;
}

}  // namespace

// Runs without a byte to escape are copied whole: a cache of many thousand
// messages is written and read at every check that changed it.
void append_escaped_field(QByteArray& line, const QString& field) {
    const QByteArray bytes = field.toLatin1();
    qsizetype run = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        const char* escape = c == '\\'   ? "\\\\"
                             : c == '\r' ? "\\r"
                             : c == '\n' ? "\\n"
                             : c == '\t' ? "\\t"
                                         : nullptr;
        if (escape != nullptr) {
            line.append(bytes.constData() + run, i - run).append(escape);
            run = i + 1;
        }
    }
    line.append(bytes.constData() + run, bytes.size() - run);
}

std::optional<QString> unescaped_field(QByteArrayView text) {
    if (text.indexOf('\r') >= 0 || text.indexOf('\n') >= 0) {
        return std::nullopt;
    }
    if (text.indexOf('\\') < 0) {
        QString field = QString::fromLatin1(text);
        return is_field(field) ? std::optional<QString>(field) : std::nullopt;
    }
    static const QByteArray escaped("\\rnt");
    static const QByteArray meant("\\\r\n\t");
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        const qsizetype which = ++i < text.size() ? escaped.indexOf(text[i]) : -1;
        if (which < 0) {
            return std::nullopt;
        }
        out += meant[which];
    }
    QString field = QString::fromLatin1(out);
    return is_field(field) ? std::optional<QString>(field) : std::nullopt;
}

}  // namespace ostrel
