#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <QVector>
#include <optional>

namespace ostrel {

// The unique id of each of the messages 1 .. count (entry k - 1 for message
// k) from a UIDL listing (the reply without its status line, up to and
// including the closing "."). Each line is a message number, one blank and
// an id of 1 to 255 characters from "!" to "~". A listing with any other
// line, a number outside 1 .. count, a number twice or one missing gives
// nothing: the mailbox is then read without unique ids.
[[nodiscard]] std::optional<QStringList> parse_unique_ids(QStringView listing, qint64 count);

// The size in octets of each of the messages 1 .. count from a LIST listing,
// read by the same rules, each size a number of at most 18 digits.
std::optional<QVector<qint64>> parse_message_sizes(QStringView listing, qint64 count);

// How long the UIDL or LIST listing of `count` messages may grow: its lines
// are short, but a large mailbox's listing passes the cap of other replies.
qsizetype unique_id_listing_cap(qint64 count);

}  // namespace ostrel
