#pragma once

#include <QByteArrayView>

#include "imap/response.h"

namespace ostrel::imap {

// Reads one whole response (as ResponseReader cuts them: its last line ends
// with CR LF, literals included) by the response grammar of RFC 3501/9051, in
// the part a read-only watcher meets. Untagged data it has no use for keeps
// its name and skips its arguments; anything against the grammar is
// Malformed, with the reason in `text`.
Response parse_response(QByteArrayView bytes);

}  // namespace ostrel::imap
