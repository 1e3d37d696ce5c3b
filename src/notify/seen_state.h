#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include "mail/message_table.h"

namespace ostrel {

// What the previous check of a server saw, as one text: the file's lines with
// their ends (CR LF or CR) removed, joined with nothing between them. Bytes
// are taken as Latin-1, so header bytes compare exactly as they arrived.
struct SeenText {
    QString text;
    QVector<qsizetype> line_ends;  // where each line ends in `text`
};
SeenText seen_text_from(const QByteArray& file_content);

struct NewMailResult {
    int new_count = 0;
    QString senders_text;  // CR LF + the sender's display name, per new message
};

// A message is new when its Subject occurs nowhere in the seen text
// (case-sensitive substring search; an empty seen text makes every message new).
// Only messages whose header block arrived count.
NewMailResult detect_new_mail(const SeenText& seen, const MessageTable& messages, qint64 count);

// One line per message whose header block arrived: date, blank, time, blank,
// From, blank, Subject, CR LF. Date and time are UTF-8; header values keep
// the bytes the server sent.
QByteArray seen_state_content(const MessageTable& messages, qint64 count);

// Reads the seen-state file. A missing file reads as empty (nothing seen yet).
// Returns an error description, empty on success.
[[nodiscard]] QString load_seen_state(const QString& path, SeenText* seen);

// Replaces the file atomically: on failure the old file stays whole.
[[nodiscard]] QString write_seen_state(const QString& path, const QByteArray& content);

}  // namespace ostrel
