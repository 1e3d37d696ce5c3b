#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <optional>

#include "mail/header_cutter.h"

namespace ostrel {

// One message of a header cache: its unique id and the whole From and
// Subject fields of its header block, as they arrived (one character a byte).
struct CachedHeader {
    QString unique_id;
    HeaderFields fields;
};

// The header cache of a server lives beside its seen-state file.
QString header_cache_file_name(const QString& server);

// The file: a format line naming the format's version and the server, then
// one line per message: the unique id, a tab, the From field, a tab, the
// Subject field. In the fields a backslash, CR, LF and tab are written as
// "\\", "\r", "\n" and "\t"; every other byte stands as it arrived. Every
// line ends with CR LF.
QByteArray header_cache_content(const QString& server, const QList<CachedHeader>& messages);

// The messages of a cache file written for `server`. A file of another
// format, version or server, or with any malformed line (a bad escape, an id
// twice, a field that is not as a header block gives it, a last line without
// CR LF) gives nothing, and `problem` says why.
[[nodiscard]] std::optional<QList<CachedHeader>> parse_header_cache(const QByteArray& content,
                                                                    const QString& server,
                                                                    QString* problem);

// The cache of `server` by unique id. A missing file is an empty cache; a
// file that cannot be read or parsed is one too, and `problem` says why.
QHash<QString, HeaderFields> load_header_cache(const QString& path, const QString& server,
                                               QString* problem);

// Replaces the file atomically: on failure the old file stays whole. Returns
// the failure's description, empty on success.
[[nodiscard]] QString write_header_cache(const QString& path, const QByteArray& content);

}  // namespace ostrel
