#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <optional>

#include "mail/header_cutter.h"

namespace ostrel::imap {

// What the last complete reading of an IMAP mailbox found: its UIDVALIDITY
// and the whole From and Subject fields of each message by UID, as they
// arrived (one character a byte). UIDs name the same messages for as long as
// the UIDVALIDITY stays.
struct UidCache {
    quint32 uid_validity = 0;  // 0: nothing known
    QMap<quint32, HeaderFields> messages;
};

// Beside the seen-state file: the account's file stem and ".hdr".
QString uid_cache_file_name(const QString& server);

// A format line naming the format's version and the server's file stem, a
// line "uidvalidity N", then one line per message in UID order: the UID, a
// tab, the From field, a tab, the Subject field, escaped as POP3's header
// cache escapes them. Every line ends with CR LF.
QByteArray uid_cache_content(const QString& server, const UidCache& cache);

// Nothing, and `problem` says why, for a file of another format, version or
// server, or with any malformed line (a UID out of order, a bad field, a
// last line without CR LF).
std::optional<UidCache> parse_uid_cache(const QByteArray& content, const QString& server,
                                        QString* problem);

// A missing file is an empty cache; so is one that cannot be read or
// parsed, and `problem` says why.
UidCache load_uid_cache(const QString& path, const QString& server, QString* problem);

}  // namespace ostrel::imap
