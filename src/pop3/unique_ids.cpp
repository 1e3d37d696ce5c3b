#include "pop3/unique_ids.h"

#include <QVector>

#include "pop3/reply_assembler.h"

namespace ostrel {

namespace {

constexpr qsizetype kLongestId = 255;
constexpr qsizetype kBytesPerListedMessage = 80;
// Beyond this many messages the listing gets no more room: 80 MiB.
constexpr qint64 kLargestListedMailbox = 1024 * 1024;

bool is_id(QStringView id) {
    if (id.isEmpty() || id.size() > kLongestId) {
        return false;
    }
    for (const QChar c : id) {
        if (c.unicode() < '!' || c.unicode() > '~') {
            return false;
        }
    }
    return true;
}

// A message number: digits only, no sign, no leading zero.
qint64 message_number(QStringView text) {
    if (text.isEmpty() || text.size() > 18 || text.front() == QLatin1Char('0')) {
        return 0;
    }
    qint64 number = 0;
    for (const QChar c : text) {
        if (!c.isDigit() || c.unicode() > '9') {
            return 0;
        }
        number = number * 10 + (c.unicode() - '0');
    }
    return number;
}

}  // namespace

std::optional<QStringList> parse_unique_ids(QStringView listing, qint64 count) {
    if (!listing.endsWith(u".\r\n") || count < 0) {
        return std::nullopt;
    }
    const QStringView lines = listing.chopped(3);
    if (!lines.isEmpty() && !lines.endsWith(u"\r\n")) {
        return std::nullopt;
    }
    if (lines.count(u"\r\n") != count) {
        return std::nullopt;
    }
    QStringList ids(count);
    for (qsizetype at = 0; at < lines.size();) {
        const qsizetype end = lines.indexOf(u"\r\n", at);
        const QStringView line = lines.sliced(at, end - at);
        at = end + 2;
        const qsizetype blank = line.indexOf(QLatin1Char(' '));
        const qint64 k = message_number(line.left(qMax<qsizetype>(blank, 0)));
        const QStringView id = line.sliced(blank + 1);
        if (blank < 0 || k < 1 || k > count || !is_id(id)) {
            return std::nullopt;
        }
        if (!ids[k - 1].isEmpty()) {
            return std::nullopt;
        }
        ids[k - 1] = id.toString();
    }
    return ids;
}

qsizetype unique_id_listing_cap(qint64 count) {
    return qMax<qsizetype>(ReplyAssembler::kDefaultCap,
                           qMin(count, kLargestListedMailbox) * kBytesPerListedMessage);
}

}  // namespace ostrel
