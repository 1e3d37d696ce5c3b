#pragma once

#include <QByteArray>
#include <QString>

#include "mail/message_table.h"

namespace ostrel {

// What the user reads of a header value that arrived as `raw`, folds
// included: the lines unfolded, RFC 2047 encoded words decoded (adjacent
// ones joined without the blanks between them; the ISO-8859-1 and US-ASCII
// labels read as windows-1252, as mail programs read them), raw 8-bit bytes
// read as UTF-8 when they are valid UTF-8, else as windows-1252. A word whose
// payload does not decode cleanly shows as it stands; a byte its charset does
// not define shows as U+FFFD. Blanks are kept as they came. A tab reads as a
// blank and any other control character (a NUL) as U+FFFD; blanks at either
// end are dropped.
QString display_text(const QByteArray& raw);

// The sender as the senders list shows it, from a raw From value: the decoded
// name of its first mailbox (in a group or not), without quotes, or its
// address when it has no name; a group without mailboxes by its name. A value
// no address parser makes sense of is cut before its first "<", or shown
// whole when nothing stands before it.
QString sender_name(const QByteArray& raw_from);

// The display values of raw From and Subject values whose characters are the
// bytes as they arrived (Latin-1).
DisplayValues display_values(const QString& raw_from, const QString& raw_subject);

// Stores message `number` at `index` of `table` with the display values made
// from its raw From and Subject alone.
void store_decoded(MessageTable& table, int index, qint64 number, const QString& raw_from,
                   const QString& raw_subject);

}  // namespace ostrel
