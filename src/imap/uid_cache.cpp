#include "imap/uid_cache.h"

#include <QFile>

#include "core/data_files.h"
#include "mail/cached_fields.h"

namespace ostrel::imap {

namespace {

const QByteArray kFormat("Ostrel IMAP header cache 1 ");
const QByteArray kValidity("uidvalidity ");
const QByteArray kLineEnd("\r\n");

// Digits only, without a leading zero, 1 to 2^32 - 1.
std::optional<quint32> positive_number(QByteArrayView digits) {
    quint64 value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9' || (value == 0 && c == '0') ||
            (value = value * 10 + (c - '0')) > 0xffffffffu) {
            return std::nullopt;
        }
    }
    return value > 0 ? std::optional<quint32>(quint32(value)) : std::nullopt;
}

}  // namespace

QString uid_cache_file_name(const QString& server) {
    return account_file_stem(server) + QStringLiteral(".hdr");
}

QByteArray uid_cache_content(const QString& server, const UidCache& cache) {
    QByteArray content = kFormat + account_file_stem(server).toUtf8() + kLineEnd + kValidity +
                         QByteArray::number(cache.uid_validity) + kLineEnd;
    for (auto it = cache.messages.cbegin(); it != cache.messages.cend(); ++it) {
        content += QByteArray::number(it.key()) + '\t';
        append_escaped_field(content, it->from);
        content += '\t';
        append_escaped_field(content, it->subject);
        content += kLineEnd;
    }
    return content;
}

std::optional<UidCache> parse_uid_cache(const QByteArray& content, const QString& server,
                                        QString* problem) {
    const QByteArray heading = kFormat + account_file_stem(server).toUtf8() + kLineEnd;
    if (!content.startsWith(heading)) {
        *problem = QStringLiteral("it does not begin with the format line of this server's cache");
        return std::nullopt;
    }
    UidCache cache;
    qsizetype line_number = 1;
    for (qsizetype at = heading.size(); at < content.size();) {
        ++line_number;
        const qsizetype end = content.indexOf(kLineEnd, at);
        const QByteArrayView line =
            end < 0 ? QByteArrayView() : QByteArrayView(content).sliced(at, end - at);
        bool good = end >= 0;
        if (good && line_number == 2) {
            const auto validity = line.startsWith(kValidity)
                                      ? positive_number(line.sliced(kValidity.size()))
                                      : std::nullopt;
            good = validity.has_value();
            cache.uid_validity = validity.value_or(0);
        } else if (good) {
            const qsizetype first = line.indexOf('\t');
            const qsizetype second = first < 0 ? -1 : line.indexOf('\t', first + 1);
            const auto uid = first < 0 ? std::nullopt : positive_number(line.first(first));
            const auto from = second < 0
                                  ? std::nullopt
                                  : unescaped_field(line.sliced(first + 1, second - first - 1));
            const auto subject =
                second < 0 ? std::nullopt : unescaped_field(line.sliced(second + 1));
            good = uid && from && subject && line.indexOf('\t', second + 1) < 0 &&
                   (cache.messages.isEmpty() || *uid > cache.messages.lastKey());
            if (good) {
                cache.messages.insert(*uid, {*from, *subject});
            }
        }
        if (!good) {
            *problem = QStringLiteral("line %1 is damaged").arg(line_number);
            return std::nullopt;
        }
        at = end + kLineEnd.size();
    }
    if (cache.uid_validity == 0) {
        *problem = QStringLiteral("it names no UIDVALIDITY");
        return std::nullopt;
    }
    return cache;
}

UidCache load_uid_cache(const QString& path, const QString& server, QString* problem) {
    QFile file(path);
    if (!file.exists()) {
        return {};
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("it cannot be read: %1").arg(file.errorString());
        return {};
    }
    return parse_uid_cache(file.readAll(), server, problem).value_or(UidCache());
}

}  // namespace ostrel::imap
