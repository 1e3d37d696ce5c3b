#include "pop3/header_cache.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSet>

#include "core/whole_file.h"
#include "mail/cached_fields.h"

namespace ostrel {

namespace {

const QByteArray kFormat("Ostrel header cache 2 ");
const QByteArray kSharedFormat("Ostrel header cache 1 ");
const QByteArray kLineEnd("\r\n");

QByteArray format_line(const CacheOwner& owner) {
    return kFormat + owner.server.toUtf8() + '\t' + owner.login.toUtf8() + kLineEnd;
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

// Digits only, without a leading zero unless it is "0"; -1 otherwise.
qint64 size_of(QByteArrayView text) {
    if (text.isEmpty() || text.size() > 18 || (text.size() > 1 && text.front() == '0')) {
        return -1;
    }
    qint64 size = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return -1;
        }
        size = size * 10 + (c - '0');
    }
    return size;
}

std::optional<CachedHeader> parse_line(QByteArrayView line) {
    qsizetype tabs[3];
    qsizetype at = -1;
    for (qsizetype& tab : tabs) {
        tab = at = line.indexOf('\t', at + 1);
        if (at < 0) {
            return std::nullopt;
        }
    }
    if (line.indexOf('\t', tabs[2] + 1) >= 0) {
        return std::nullopt;
    }
    const QByteArrayView id = line.first(tabs[0]);
    const qint64 size = size_of(line.sliced(tabs[0] + 1, tabs[1] - tabs[0] - 1));
    const auto from = unescaped_field(line.sliced(tabs[1] + 1, tabs[2] - tabs[1] - 1));
    const auto subject = unescaped_field(line.sliced(tabs[2] + 1));
    if (!is_unique_id(id) || size < 0 || !from || !subject) {
        return std::nullopt;
    }
    return CachedHeader{QString::fromLatin1(id), size, {*from, *subject}, std::nullopt};
}

}  // namespace

QString header_cache_file_name(const CacheOwner& owner) {
    const QByteArray digest =
        QCryptographicHash::hash(owner.login.toUtf8(), QCryptographicHash::Sha256).toHex();
    return owner.server + QLatin1Char('@') + QString::fromLatin1(digest.left(16)) +
           QStringLiteral(".hdr");
}

QString shared_header_cache_file_name(const QString& server) {
    return server + QStringLiteral(".hdr");
}

bool is_shared_header_cache(const QByteArray& content, const QString& server) {
    return content.startsWith(kSharedFormat + server.toUtf8() + kLineEnd);
}

QByteArray header_cache_content(const CacheOwner& owner, const QList<CachedHeader>& messages) {
    QByteArray content = format_line(owner);
    for (const CachedHeader& message : messages) {
        content += message.unique_id.toLatin1() + '\t' + QByteArray::number(message.size) + '\t';
        append_escaped_field(content, message.fields.from);
        content += '\t';
        append_escaped_field(content, message.fields.subject);
        content += kLineEnd;
    }
    return content;
}

std::optional<QList<CachedHeader>> parse_header_cache(const QByteArray& content,
                                                      const CacheOwner& owner, QString* problem) {
    const QByteArray first_line = format_line(owner);
    if (!content.startsWith(first_line)) {
        *problem = QStringLiteral("it does not begin with the format line of this account's cache");
        return std::nullopt;
    }
    QList<CachedHeader> messages;
    QSet<QString> ids;
    qsizetype line_number = 1;
    for (qsizetype at = first_line.size(); at < content.size();) {
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

QHash<QString, CachedHeader> load_header_cache(const QString& path, const CacheOwner& owner,
                                               QString* problem) {
    QHash<QString, CachedHeader> cache;
    QFile file(path);
    if (!file.exists()) {
        return cache;
    }
    // A cache an earlier version left readable by others is made owner-only
    // here, since an unchanged mailbox never rewrites it.
    if (!open_owner_only(file, QIODevice::ReadOnly)) {
        *problem = QStringLiteral("it cannot be read: %1").arg(file.errorString());
        return cache;
    }
    const auto messages = parse_header_cache(file.readAll(), owner, problem);
    if (messages) {
        cache.reserve(messages->size());
        for (const CachedHeader& message : *messages) {
            cache.insert(message.unique_id, message);
        }
    }
    return cache;
}

QString write_header_cache(const QString& path, const QByteArray& content) {
    return replace_whole_file(path, content);
}

}  // namespace ostrel
