#pragma once

#include <QString>
#include <QStringView>

namespace ostrel {

struct HeaderValues {
    QString from;
    QString subject;
};

// The value of the first header line named `name` (letter case ignored) in a
// header block: the rest of that line after the colon and one optional blank.
// Only the start of a line counts, so "Resent-From:" is not "From:". A folded
// value gives its first line only; encoded words stay as they are. Lines end
// with CR LF or LF; the block's headers end at its first empty line. A
// missing header gives an empty value.
QString header_value(QStringView block, QStringView name);

// The sender and subject of one message's header block.
HeaderValues cut_headers(QStringView block);

}  // namespace ostrel
