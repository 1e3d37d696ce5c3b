#include "mail/cached_fields.h"

namespace ostrel {

namespace {

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

void append_escaped_field(QByteArray& line, const QString& field) {
    for (const QChar c : field) {
        switch (c.unicode()) {
            case '\\':
                line += "\\\\";
                break;
            case '\r':
                line += "\\r";
                break;
            case '\n':
                line += "\\n";
                break;
            case '\t':
                line += "\\t";
                break;
            default:
                line += char(c.unicode());
        }
    }
}

std::optional<QString> unescaped_field(QByteArrayView text) {
    static const QByteArray escaped("\\rnt");
    static const QByteArray meant("\\\r\n\t");
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            return std::nullopt;
        }
        if (c != '\\') {
            out += c;
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
