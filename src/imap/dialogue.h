#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "auth/sasl.h"
#include "imap/command.h"
#include "imap/response.h"

namespace ostrel::imap {

// The parts of the IMAP dialogue that the mailbox reader and the idle watcher
// both speak: what a server offers, what its greeting allows, the sign-in,
// what EXAMINE says of INBOX, and server texts fit for a log line.

// What a server offers, from a CAPABILITY response or a [CAPABILITY] code.
struct Offers {
    bool known = false;  // a listing was seen
    bool starttls = false;
    bool login_disabled = false;  // no LOGIN in clear
    bool literal_plus = false;
    bool idle = false;
    QStringList sasl;      // the AUTH= mechanisms, upper case
    bool sasl_ir = false;  // AUTHENTICATE takes its initial response on its own line

    void take(const QByteArrayList& capabilities);
};

// How the dialogue may go on after the greeting.
enum class Greeting {
    Proceed,         // "* OK": sign in
    SignedIn,        // "* PREAUTH" over TLS: already signed in
    PreauthInClear,  // "* PREAUTH" on a plain connection: nothing may be trusted or sent
    Bye,             // the server will not talk now
    Unreadable,      // anything else
};
Greeting read_greeting(const Response& greeting, bool encrypted);

// The sign-in of an account with a password: LOGIN, each value quoted or a
// literal (non-synchronizing with LITERAL+).
Command login_command(QByteArrayView tag, const QString& login, const QString& password);

// The sign-in of an account with a bearer token (RFC 7628, or XOAUTH2), each
// line with its CR LF: "AUTHENTICATE <mechanism>" with the initial response
// on the same line where the server offers SASL-IR, else the response alone
// after the server's "+". Over TLS only: the token is not protected.
QByteArrayList authenticate_lines(QByteArrayView tag, BearerMechanism mechanism,
                                  const QByteArray& initial_response, bool sasl_ir);

// The header items a reading asks for; BODY.PEEK sets no \Seen flag.
inline constexpr char kHeaderItems[] = "(UID BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])";

// What EXAMINE INBOX says of the mailbox, and what the server says of it
// later (IDLE's new messages and expunges).
struct MailboxStatus {
    quint32 exists = 0;
    std::optional<quint32> uid_validity;
    std::optional<quint32> uid_next;

    // Takes what one untagged response says of the mailbox.
    void take(const Response& response);
};

// A status response's condition, code and text as one log line may hold
// them: printable characters only, at most 200.
QString shown_status(const Response& response);

// UIDs (ascending) as sequence sets of at most `ranges` ranges each
// ("3:7,9,12:14").
QByteArrayList uid_sets(const QList<quint32>& uids, int ranges = 400);

}  // namespace ostrel::imap
