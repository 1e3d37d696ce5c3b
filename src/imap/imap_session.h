#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

#include "imap/command.h"
#include "imap/response_reader.h"
#include "net/connection.h"

namespace ostrel {
class EventLog;
struct MailboxAddress;
}  // namespace ostrel

namespace ostrel::imap {

// The IMAP dialogue over one connection, for a reading: the greeting,
// tagged commands (several may be sent before the first completes, and are
// completed in order) and the TLS upgrade. Every wait is the connection's,
// with its reply time-out.
class ImapSession {
public:
    using Untagged = std::function<void(const Response&)>;

    ImapSession(EventLog& log, int reply_timeout_ms);

    Connection& connection() { return connection_; }
    const Connection& connection() const { return connection_; }

    // Connects to the server `address` names; `server` names it in log
    // lines. TLS from the first byte when the address says so, verified
    // against the system's authorities and `extra_authorities`.
    void connect_to(const QString& server, const MailboxAddress& address,
                    const QList<QSslCertificate>& extra_authorities);
    // Sends LOGOUT, without waiting, when the connection is open; then closes it.
    void log_out_and_close();

    // Until the greeting. NotConnected when no connection could be made or
    // secured (logged).
    WaitResult wait_greeting(Response* greeting);
    // The tag for the next command.
    QByteArray next_tag();
    // Sends a command; a synchronizing literal waits for the server's "+"
    // (a refusal instead completes the command). SendFailed for a command
    // that is not valid().
    WaitResult send(const Command& command, bool literal_plus);
    // Until the tagged response of `tag`: in `done`. Untagged responses on
    // the way go to `untagged`. Closed, with problem() set, when the server
    // said BYE or sent a response against the grammar.
    WaitResult complete(const QByteArray& tag, Response* done, const Untagged& untagged = {});
    // Sends `line` (with its CR LF) of the command `tag` in progress, and
    // waits for what the server says to it: a continuation request, whose
    // text goes to `challenge`, or the command's completion, in `done` (and
    // `challenge` empty). For the steps of an AUTHENTICATE exchange.
    WaitResult exchange(const QByteArray& tag, const QByteArray& line, Response* done,
                        std::optional<QByteArray>* challenge);
    // After the server's OK to STARTTLS: the handshake (see
    // Connection::start_tls). Nothing read before it counts afterwards.
    WaitResult start_tls();

    // Bytes arrived beyond the responses taken (see ResponseReader).
    bool holds_unread() const { return reader_.holds_unread(); }
    void set_response_cap(qsizetype cap);
    const QString& problem() const { return problem_; }
    const QString& send_failure() const { return connection_.send_failure(); }

private:
    bool take_until(const QByteArray& tag, bool continuation, const Untagged& untagged);

    Connection connection_;
    ResponseReader reader_;
    int next_tag_ = 1;
    std::optional<Response> completed_;  // a command refused before its last piece went
    bool continued_ = false;
    QByteArray continuation_text_;  // of the latest "+" a wait ended on
    QString problem_;
};

}  // namespace ostrel::imap
