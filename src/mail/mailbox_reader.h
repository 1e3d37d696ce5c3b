#pragma once

#include <QString>
#include <functional>

#include "mail/message_table.h"

namespace ostrel {

// One account as a reader needs it: where the mailbox is and how to sign in.
struct MailboxAccount {
    QString server;  // the account's server field, as the user wrote it
    QString login;
    QString credential;  // the password (a bearer token for a reader that signs in so)
};

// What reading one mailbox came to.
struct MailboxReading {
    enum class Outcome {
        // The mailbox was read to the end: `messages` and `count` hold it.
        Read,
        // No connection could be made or secured. The reader has logged why,
        // where it knows more than that; the check logs that it cannot connect.
        CannotConnect,
        // The server refused the greeting or the sign-in: `text` is the
        // message the user is shown.
        Refused,
        // The dialogue broke off (silence, a close, a reply past its cap, a
        // failed write): `text` says what happened, for one log line.
        Abandoned,
        // The program is ending: the check stops at once.
        Ending,
    };

    Outcome outcome = Outcome::Read;
    QString text;
    // The header values of messages 1 .. count as they arrived, entry k - 1
    // for message k; a message whose header block did not arrive stays empty.
    MessageTable messages;
    qint64 count = 0;

    static MailboxReading failed(Outcome outcome, const QString& text = {}) {
        MailboxReading reading;
        reading.outcome = outcome;
        reading.text = text;
        return reading;
    }
};

// Told how many messages the server says the mailbox holds, as soon as it
// says so and before their headers are read.
using CountHeard = std::function<void(qint64 count)>;

// Reads an account's mailbox for a check: the sender and subject of every
// message, nothing else, and nothing is ever deleted or marked on the server.
// Everything after the reading (the seen state, new mail, search words,
// popups) is the same whatever the protocol, so a reader is all a protocol
// adds.
//
// A reader may write its own files in the program folder (caches, the
// server's security file) and log lines, and may ask the user about a
// certificate; it never writes the seen state, which is the check's alone,
// and shows no popups. It never keeps the credential. Only Read hands over
// messages: whatever else the outcome, the account's seen state stays as it
// was. It returns with its connection closed, and serves one account at a
// time; what it learns of a server may last for the whole run.
class MailboxReader {
public:
    virtual ~MailboxReader() = default;

    [[nodiscard]] virtual MailboxReading read(const MailboxAccount& account,
                                              const CountHeard& count_heard) = 0;
};

// The reader for an account's server field. The readers belong to whoever
// chose them and outlive the check.
using ReaderChoice = std::function<MailboxReader&(const QString& server)>;

}  // namespace ostrel
