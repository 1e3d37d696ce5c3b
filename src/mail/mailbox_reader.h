#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "mail/message_table.h"

namespace ostrel {

// How an account signs in: with its password, or with an OAuth 2.0 bearer
// token (an access token) that it got by signing in with its mail provider.
struct Credential {
    enum class Kind { Password, BearerToken };
    Kind kind = Kind::Password;
    QString secret;  // the password or the access token
    // For a bearer token the server refused: a fresh one, or nothing when none
    // can be had (whoever gives it has then told why). A reader asks at most
    // once per reading. Empty for a password.
    std::function<std::optional<QString>()> renew;
};

// One account as a reader needs it: where the mailbox is and how to sign in.
struct MailboxAccount {
    QString server;  // the account's server field, as the user wrote it
    QString login;
    Credential credential;
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
        // A bearer token was not sent, or the server refused it and a renewed
        // one: the reader (or the credential's renewal) has said why in one
        // log line, and the check adds nothing. No box: a token refused at
        // every check must not stop the schedule with a question.
        SignInFailed,
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
