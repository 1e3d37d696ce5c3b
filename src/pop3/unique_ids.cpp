#include "pop3/unique_ids.h"

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

// A number: digits only, no sign, no leading zero unless it is "0" and
// `zero` allows it; 0 when the text is none.
qint64 number_of(QStringView text, bool zero = false) {
    if (zero && text == u"0") {
        return 0;
    }
    if (text.isEmpty() || text.size() > 18 || text.front() == QLatin1Char('0')) {
        return -1;
    }
    qint64 number = 0;
    for (const QChar c : text) {
        if (c.unicode() < '0' || c.unicode() > '9') {
            return -1;
        }
        number = number * 10 + (c.unicode() - '0');
    }
    return number;
}

// The value on each message's line of a listing: message number, one blank,
// the value, each of 1 .. count once, every value as `usable` allows.
template <typename Usable>
std::optional<QList<QStringView>> listed_values(QStringView listing, qint64 count, Usable usable) {
    if (!listing.endsWith(u".\r\n") || count < 0) {
        return std::nullopt;
    }
    const QStringView lines = listing.chopped(3);
    if ((!lines.isEmpty() && !lines.endsWith(u"\r\n")) || lines.count(u"\r\n") != count) {
        return std::nullopt;
    }
    QList<QStringView> values(count);
    for (qsizetype at = 0; at < lines.size();) {
        const qsizetype end = lines.indexOf(u"\r\n", at);
        const QStringView line = lines.sliced(at, end - at);
        at = end + 2;
        const qsizetype blank = line.indexOf(QLatin1Char(' '));
        const qint64 k = number_of(line.left(qMax<qsizetype>(blank, 0)));
        const QStringView value = line.sliced(blank + 1);
        if (blank < 0 || k < 1 || k > count || !usable(value) || !values[k - 1].isNull()) {
            return std::nullopt;
        }
        values[k - 1] = value;
    }
    return values;
}

}  // namespace

std::optional<QStringList> parse_unique_ids(QStringView listing, qint64 count) {
    const auto values = listed_values(listing, count, is_id);
    if (!values) {
        return std::nullopt;
    }
    QStringList ids;
    ids.reserve(values->size());
    for (const QStringView id : *values) {
        ids.append(id.toString());
    }
    return ids;
}

std::optional<QVector<qint64>> parse_message_sizes(QStringView listing, qint64 count) {
    const auto values =
        listed_values(listing, count, [](QStringView size) { return number_of(size, true) >= 0; });
    if (!values) {
        return std::nullopt;
    }
    QVector<qint64> sizes;
    sizes.reserve(values->size());
    for (const QStringView size : *values) {
        sizes.append(number_of(size, true));
    }
    return sizes;
}

qsizetype unique_id_listing_cap(qint64 count) {
    return qMax<qsizetype>(ReplyAssembler::kDefaultCap,
                           qMin(count, kLargestListedMailbox) * kBytesPerListedMessage);
}

}  // namespace ostrel
