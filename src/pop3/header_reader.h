#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include "pop3/capabilities.h"
#include "pop3/header_cache.h"
#include "pop3/pop3_session.h"

namespace ostrel {

struct MessageTable;

// What reading one mailbox's header blocks came to.
struct HeaderReading {
    // Anything but Answered: the reading broke off waiting for the reply to
    // `command`, and the stream cannot be trusted any more.
    WaitResult result = WaitResult::Answered;
    QString command;
    // The messages the reading covers: the STAT count, or fewer when a long
    // run of refused TOP commands ended it at `refused_run_end`.
    qint64 count = 0;
    QString refused_run_end;
    // The server gave a usable UIDL listing: `cache` then holds every
    // message on the server whose header block arrived (from the server or
    // the old cache) under an id no other message has.
    bool unique_ids = false;
    QList<CachedHeader> cache;
    qint64 top_commands = 0;  // header blocks asked for
};

// A server that claims far more messages than it serves answers "-ERR" to
// every TOP past its real ones; this many in a row end the reading.
inline constexpr int kRefusedTopRun = 100;

// Reads the header block of every message 1 .. count into `table`, entry
// k - 1 for message k; a message whose TOP is refused stays empty. With
// UIDL, the blocks of messages whose unique id is in `cached` come from
// there and only the others are asked for. With PIPELINING the TOP commands
// go out in a sliding window and their replies are read in order. Either
// way each entry is what a TOP of that message gives.
HeaderReading read_header_blocks(Pop3Session& session, const Capabilities& capabilities,
                                 qint64 count, const QHash<QString, HeaderFields>& cached,
                                 MessageTable& table);

}  // namespace ostrel
