#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <optional>

namespace ostrel::imap {

// The state a status response reports (RFC 9051 resp-cond-*).
enum class Condition { None, Ok, No, Bad, Bye, Preauth };

// What a watcher reads from one message's FETCH data; items it does not ask
// for are skipped.
struct FetchItems {
    std::optional<quint32> uid;
    std::optional<quint64> size;  // RFC822.SIZE
    // The value of BODY[HEADER.FIELDS (...)]: the header lines exactly as
    // they arrived, with their CR LF and the closing empty line.
    std::optional<QByteArray> header_fields;
};

// One server response, as the session acts on it.
struct Response {
    enum class Kind {
        Tagged,        // completes the command with `tag`
        Untagged,      // "*": status or data
        Continuation,  // "+": the server waits for more of the command
        Malformed,     // unreadable; `text` says why
    };
    Kind kind = Kind::Malformed;
    QByteArray tag;

    // Status responses (tagged, and untagged OK/NO/BAD/BYE/PREAUTH).
    Condition condition = Condition::None;
    QByteArray code;           // response code name in capitals ("UIDVALIDITY", "ALERT"), or empty
    QByteArray code_argument;  // the code's text after its name, as sent
    std::optional<quint32> code_number;  // that text read as a 32-bit number
    QByteArray text;                     // human-readable text; for Malformed the reason

    // Untagged data: its name in capitals ("CAPABILITY", "EXISTS", "FETCH",
    // "SEARCH", or any other the server sends, whose arguments are skipped).
    QByteArray data;
    quint32 number = 0;           // before EXISTS, RECENT: a count; EXPUNGE, FETCH: a message
    QByteArrayList capabilities;  // CAPABILITY data, or a [CAPABILITY ...] code; in capitals
    QList<quint32> search;        // SEARCH
    FetchItems fetch;             // FETCH
};

}  // namespace ostrel::imap
