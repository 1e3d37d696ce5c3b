#pragma once

#include <QString>
#include <QStringView>

#include "mail/display_text.h"

namespace ostrel {

// From and Subject as they arrived (first line only), and what the user reads
// of them (all their lines, decoded).
struct HeaderValues {
    QString from;
    QString subject;
    DisplayValues display;
};

// The value of the first header line named `name` (letter case ignored) in a
// header block: the rest of that line after the colon and one optional blank.
// Only the start of a line counts, so "Resent-From:" is not "From:". A folded
// value gives its first line only; encoded words stay as they are. Lines end
// with CR LF or LF; the block's headers end at its first empty line. A
// missing header gives an empty value.
QString header_value(QStringView block, QStringView name);

// The same header's whole value: its first line as above, then each folded
// continuation line (one that starts with a blank or a tab) after a CR LF.
QString header_field(QStringView block, QStringView name);

// The whole From and Subject fields of one header block, as header_field
// gives them: all that is needed to make its HeaderValues again.
struct HeaderFields {
    QString from;
    QString subject;
};
HeaderFields cut_fields(QStringView block);

// The values of a message from its whole fields: the first line of each as it
// arrived, and what the user reads of all their lines.
HeaderValues header_values(const HeaderFields& fields);

// The sender and subject of one message's header block.
HeaderValues cut_headers(QStringView block);

}  // namespace ostrel
