#pragma once

#include <QByteArray>
#include <QString>

#include "core/app_state.h"

namespace ostrel {

// What the previous check of a server saw, as one text: the file's lines with
// their ends (CR LF or CR) removed, joined with nothing between them.
QString seen_text_from(const QByteArray& file_content);

struct NewMailResult {
    int new_count = 0;
    QString senders_text;  // CR LF + the sender's display name, per new message
};

// A message is new when its Subject occurs nowhere in the seen text
// (case-sensitive substring search; an empty seen text makes every message new).
NewMailResult detect_new_mail(const QString& seen_text, const MessageTable& messages, qint64 count);

// One line per message: date, blank, time, blank, From, blank, Subject, CR LF.
// Header values keep the bytes the server sent.
QByteArray seen_state_content(const MessageTable& messages, qint64 count);

// Reads the seen-state file. A missing file reads as empty (nothing seen yet).
// Returns an error description, empty on success.
QString load_seen_state(const QString& path, QString* seen_text);

// Replaces the file atomically: on failure the old file stays whole.
QString write_seen_state(const QString& path, const QByteArray& content);

// Why a server text cannot name a file in the program folder ("/", "\", a
// control character, "." or ".."), or empty when it can.
QString unsafe_server_name_reason(const QString& server);

}  // namespace ostrel
