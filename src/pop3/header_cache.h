#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <optional>

#include "mail/header_cutter.h"

namespace ostrel {

// One message of a header cache: its unique id, its size in octets (as LIST
// gave it when its header block was read) and the whole From and Subject
// fields of its header block, as they arrived (one character a byte). What
// the user reads of the fields is not in the file: it is made from them when
// first needed and kept with them for as long as the program runs.
struct CachedHeader {
    QString unique_id;
    qint64 size = 0;
    HeaderFields fields;
    std::optional<DisplayValues> display;
};

// Whose cache a file is: each account (server and login) keeps its own, so
// that two mailboxes on one server never share what their ids stand for.
struct CacheOwner {
    QString server;
    QString login;
};

// The cache of an account lives beside its server's seen-state file, named
// by the server and the first 16 hex digits of the SHA-256 digest of the
// login's UTF-8 bytes: "<server>@<digest>.hdr", a safe file name whatever
// the login holds. The file's first line names both, so that two logins
// whose digests agree can never take each other's file for their own.
QString header_cache_file_name(const CacheOwner& owner);
// The one cache every account of a server shared before each kept its own.
QString shared_header_cache_file_name(const QString& server);
// The file holds such a shared cache of `server`.
bool is_shared_header_cache(const QByteArray& content, const QString& server);

// The file: a format line naming the format's version, the server and, after
// a tab, the login; then one line per message: the unique id, a tab, the
// size, a tab, the From field, a tab, the Subject field. In the fields a
// backslash, CR, LF and tab are written as "\\", "\r", "\n" and "\t"; every
// other byte stands as it arrived. Every line ends with CR LF.
QByteArray header_cache_content(const CacheOwner& owner, const QList<CachedHeader>& messages);

// The messages of a cache file written for `owner`. A file of another format,
// version, server or login, or with any malformed line (a bad escape, an id
// twice, a size that is no number, a field that is not as a header block
// gives it, a last line without CR LF) gives nothing, and `problem` says why.
[[nodiscard]] std::optional<QList<CachedHeader>> parse_header_cache(const QByteArray& content,
                                                                    const CacheOwner& owner,
                                                                    QString* problem);

// The cache of `owner` by unique id. A missing file is an empty cache; a
// file that cannot be read or parsed is one too, and `problem` says why.
QHash<QString, CachedHeader> load_header_cache(const QString& path, const CacheOwner& owner,
                                               QString* problem);

// Replaces the file atomically: on failure the old file stays whole. Returns
// the failure's description, empty on success.
[[nodiscard]] QString write_header_cache(const QString& path, const QByteArray& content);

}  // namespace ostrel
