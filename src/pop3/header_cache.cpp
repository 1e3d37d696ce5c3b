#include "pop3/header_cache.h"

#include <QFile>
#include <QSet>

#include "core/whole_file.h"

namespace ostrel {

namespace {

const QByteArray kFormat("Ostrel header cache 1 ");
const QByteArray kLineEnd("\r\n");

void append_escaped(QByteArray& out, const QString& field) {
    for (const QChar c : field) {
        switch (c.unicode()) {
            case '\\':
                out += "\\\\";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += static_cast<char>(c.unicode());
        }
    }
}

std::optional<QString> unescaped(QByteArrayView text) {
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
        if (++i == text.size()) {
            return std::nullopt;
        }
        switch (text[i]) {
            case '\\':
                out += '\\';
                break;
            case 'r':
                out += '\r';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            default:
                return std::nullopt;
        }
    }
    return QString::fromLatin1(out);
}

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

bool is_unique_id(QByteArrayView id) {
    if (id.isEmpty()) {
        return false;
    }
    for (const char c : id) {
        if (c < '!' || c > '~') {
            return false;
        }
    }
    return true;
}

std::optional<CachedHeader> parse_line(QByteArrayView line) {
    const qsizetype first_tab = line.indexOf('\t');
    const qsizetype second_tab = first_tab < 0 ? -1 : line.indexOf('\t', first_tab + 1);
    if (second_tab < 0 || line.indexOf('\t', second_tab + 1) >= 0) {
        return std::nullopt;
    }
    const QByteArrayView id = line.first(first_tab);
    const auto from = unescaped(line.sliced(first_tab + 1, second_tab - first_tab - 1));
    const auto subject = unescaped(line.sliced(second_tab + 1));
    if (!is_unique_id(id) || !from || !subject || !is_field(*from) || !is_field(*subject)) {
        return std::nullopt;
    }
    return CachedHeader{QString::fromLatin1(id), {*from, *subject}};
}

}  // namespace

QString header_cache_file_name(const QString& server) {
    return server + QStringLiteral(".hdr");
}

QByteArray header_cache_content(const QString& server, const QList<CachedHeader>& messages) {
    QByteArray content = kFormat + server.toUtf8() + kLineEnd;
    for (const CachedHeader& message : messages) {
        content += message.unique_id.toLatin1() + '\t';
        append_escaped(content, message.fields.from);
        content += '\t';
        append_escaped(content, message.fields.subject);
        content += kLineEnd;
    }
    return content;
}

std::optional<QList<CachedHeader>> parse_header_cache(const QByteArray& content,
                                                      const QString& server, QString* problem) {
    const QByteArray format_line = kFormat + server.toUtf8() + kLineEnd;
    if (!content.startsWith(format_line)) {
        *problem = QStringLiteral("it does not begin with the format line of this server's cache");
        return std::nullopt;
    }
    QList<CachedHeader> messages;
    QSet<QString> ids;
    qsizetype line_number = 1;
    for (qsizetype at = format_line.size(); at < content.size();) {
        ++line_number;
        const qsizetype end = content.indexOf(kLineEnd, at);
        const auto message =
            end < 0 ? std::nullopt : parse_line(QByteArrayView(content).sliced(at, end - at));
        if (!message || ids.contains(message->unique_id)) {
            *problem = QStringLiteral("line %1 is damaged").arg(line_number);
            return std::nullopt;
        }
        ids.insert(message->unique_id);
        messages.append(*message);
        at = end + kLineEnd.size();
    }
    return messages;
}

QHash<QString, HeaderFields> load_header_cache(const QString& path, const QString& server,
                                               QString* problem) {
    QHash<QString, HeaderFields> cache;
    QFile file(path);
    if (!file.exists()) {
        return cache;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("it cannot be read: %1").arg(file.errorString());
        return cache;
    }
    const auto messages = parse_header_cache(file.readAll(), server, problem);
    if (messages) {
        cache.reserve(messages->size());
        for (const CachedHeader& message : *messages) {
            cache.insert(message.unique_id, message.fields);
        }
    }
    return cache;
}

QString write_header_cache(const QString& path, const QByteArray& content) {
    return replace_whole_file(path, content);
}

}  // namespace ostrel
