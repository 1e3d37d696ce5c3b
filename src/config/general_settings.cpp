#include "config/general_settings.h"

#include <QFile>

#include "core/whole_file.h"

namespace ostrel {

namespace {

bool is_line_end(QChar c) {
    return c == QLatin1Char('\r') || c == QLatin1Char('\n');
}

bool is_field_blank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// Moves past one delimiter (comma, CR LF, CR or LF) at `pos`.
int skip_delimiter(const QString& text, int pos) {
    if (pos >= text.size()) {
        return pos;
    }
    if (text[pos] == QLatin1Char('\r') && pos + 1 < text.size() &&
        text[pos + 1] == QLatin1Char('\n')) {
        return pos + 2;
    }
    return pos + 1;
}

}  // namespace

QStringList read_delimited_fields(const QString& text) {
    QStringList fields;
    int pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && is_field_blank(text[pos])) {
            ++pos;
        }
        QString field;
        if (pos < text.size() && text[pos] == QLatin1Char('"')) {
            const int close = text.indexOf(QLatin1Char('"'), pos + 1);
            const int end = close < 0 ? text.size() : close;
            field = text.mid(pos + 1, end - pos - 1);
            pos = close < 0 ? text.size() : close + 1;
            // Whatever follows the closing quote up to the delimiter is dropped.
            while (pos < text.size() && text[pos] != QLatin1Char(',') && !is_line_end(text[pos])) {
                ++pos;
            }
        } else {
            const int start = pos;
            while (pos < text.size() && text[pos] != QLatin1Char(',') && !is_line_end(text[pos])) {
                ++pos;
            }
            field = text.mid(start, pos - start);
            while (!field.isEmpty() && is_field_blank(field.back())) {
                field.chop(1);
            }
        }
        fields.append(field);
        pos = skip_delimiter(text, pos);
    }
    return fields;
}

SettingsRead read_general_settings(const QString& path) {
    SettingsRead result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
        return result;
    }
    result.fields = read_delimited_fields(QString::fromUtf8(file.readAll()));
    if (result.fields.size() < 2) {
        result.error =
            QStringLiteral("%1 holds %2 of its two values").arg(path).arg(result.fields.size());
    }
    return result;
}

QString write_general_settings(const QString& path, const GeneralOptions& options) {
    const QString content = options.check_interval + QStringLiteral("\r\n") +
                            options.start_with_windows + QStringLiteral("\r\n");
    return replace_whole_file(path, content.toUtf8());
}

}  // namespace ostrel
