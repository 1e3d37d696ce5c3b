#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

#include "pop3/capabilities.h"
#include "pop3/header_cache.h"
#include "pop3/pop3_session.h"

namespace ostrel {

struct MessageTable;

// Where a reading broke off: a wait for the reply to `command` that ended
// otherwise than Answered, or replies out of step with the commands sent
// ahead (a reply doubled, or a block that ended early), found at `command`.
// Either way the stream cannot be trusted any more.
struct BreakOff {
    WaitResult result = WaitResult::Answered;
    bool out_of_step = false;
    QString command;

    bool happened() const { return result != WaitResult::Answered || out_of_step; }
};

// What the listing commands told of the mailbox: the STAT count and, from a
// server that gives unique ids, each message's id (UIDL) and size (LIST)
// when their listings were usable.
struct MailboxListing {
    qint64 count = 0;
    std::optional<QStringList> ids;
    std::optional<QVector<qint64>> sizes;
};

// The commands that list the mailbox once signed in: STAT, and UIDL and LIST
// for a server that gives unique ids. Each line ends with CR LF.
QByteArray listing_commands(const Capabilities& capabilities);

// Reads the replies to the listing commands into `listing`. With PIPELINING
// the commands are sent in one write, unless `sent_ahead` says they went out
// with the last login command already, and their replies must follow each
// other in step; otherwise each is sent on its own.
BreakOff read_listing(Pop3Session& session, const Capabilities& capabilities, bool sent_ahead,
                      MailboxListing* listing);

// What reading one mailbox's header blocks came to.
struct HeaderReading {
    BreakOff stop;
    // The messages the reading covers: the STAT count, or fewer when a long
    // run of refused TOP commands ended it at `refused_run_end`.
    qint64 count = 0;
    QString refused_run_end;
    // The server gave usable UIDL and LIST listings: `cache` then holds
    // every message on the server whose header block arrived (from the
    // server or the old cache) under an id no other message has.
    // `cache_unchanged`: every message came from the old cache, which held
    // nothing else, so the file already says what `cache` does.
    bool unique_ids = false;
    QList<CachedHeader> cache;
    bool cache_unchanged = false;
    qint64 top_commands = 0;  // header blocks asked for
};

// A server that claims far more messages than it serves answers "-ERR" to
// every TOP past its real ones; this many in a row end the reading.
inline constexpr int kRefusedTopRun = 100;

// Reads the header block of every message 1 .. listing.count into `table`,
// entry k - 1 for message k; a message whose TOP is refused stays empty.
// With unique ids and sizes, the blocks of messages whose id is in `cached`
// with the same size come from there and only the others are asked for.
// With PIPELINING the TOP commands go out in a window bounded by the bytes
// of commands not yet answered, in the stream the listing began, and one
// more TOP past the last message, which must be refused, closes the stream:
// a reply out of place, or bytes after that refusal, break the reading off.
// Either way each entry is what a TOP of that message gives. What the user
// reads of a cached message is taken from the cache where it holds it, and
// `cache` holds it for every message.
HeaderReading read_header_blocks(Pop3Session& session, const Capabilities& capabilities,
                                 const MailboxListing& listing,
                                 const QHash<QString, CachedHeader>& cached, MessageTable& table);

}  // namespace ostrel
