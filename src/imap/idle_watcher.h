#pragma once

#include <QByteArrayList>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslError>
#include <QTimer>

#include "core/data_files.h"
#include "imap/dialogue.h"
#include "imap/response_reader.h"
#include "mail/mailbox_address.h"
#include "mail/mailbox_reader.h"
#include "net/connection.h"

class QSslSocket;

namespace ostrel {
class EventLog;
}

namespace ostrel::imap {

// How long an idle watcher waits. The product uses the defaults, with the
// longest retry delay set to the check interval; tests may shorten them.
struct IdleTimings {
    int reply_timeout_ms = kReplyTimeoutMs;
    // IDLE is ended and begun again before the server may end it (RFC 2177:
    // at most every 29 minutes).
    int renew_ms = 25 * 60 * 1000;
    // After a failure the connection is opened again after this long,
    // doubled each time, up to the longest delay.
    int first_retry_ms = 2000;
    int longest_retry_ms = 10 * 60 * 1000;
};

// Keeps one account's connection open on INBOX in IDLE (RFC 2177), so that
// the server tells at once when a message arrives; new_mail then asks for a
// check of the account. It reads nothing itself and changes nothing: INBOX
// is open read-only (EXAMINE). Driven by the socket's signals and its own
// timers, it never waits in a nested event loop, and between the server's
// words it costs nothing but the renewal of IDLE and TCP keep-alive.
//
// It keeps to the account's security file as a check does (STARTTLS where
// offered, never a login in clear to a server marked for it, certificates
// trusted by the system or pinned) but asks the user nothing and writes
// nothing: what needs a question waits for the next check. A failure closes
// the connection and opens it again later, with a growing delay; one log
// line tells when a connection that idled drops, none when opening fails.
// A server without IDLE is left after one log line: the scheduled checks
// cover it. It keeps the account's credential for as long as it lives; for
// a bearer token, the credential's renewal gives the token of the moment at
// each new connection.
class IdleWatcher : public QObject {
    Q_OBJECT
public:
    IdleWatcher(const DataFiles& files, EventLog& log, MailboxAccount account,
                IdleTimings timings = IdleTimings(), QList<QSslCertificate> extra_authorities = {},
                QObject* parent = nullptr);
    ~IdleWatcher() override;

    const MailboxAccount& account() const { return account_; }
    // Opens the connection now, closing one that is open (it may have died
    // with the network); the retry delay starts again from the first.
    void start();
    // Closes the connection without a log line; nothing happens until start().
    void stop();
    bool idling() const { return step_ == Step::Idling; }

signals:
    // INBOX holds more messages than before, or did when the connection
    // was opened again.
    void new_mail(const QString& server, const QString& login);

private:
    enum class Step {
        Stopped,
        Retrying,
        Connecting,
        Greeting,
        Capability,
        StartTls,
        Handshake,
        LogIn,
        Examine,
        IdleAsked,
        Idling,
        Done,
        Given,
    };

    void open();
    void close_socket();
    void fail(const QString& reason);
    void take_bytes();
    void take(const Response& response);
    void take_completion(const Response& done);
    void take_greeting(const Response& greeting);
    void go_on_after_offers();
    void log_in();
    void log_in_with_token();
    void examined();
    void take_certificate_errors(const QList<QSslError>& errors);
    void send(Step step, const QByteArray& command);
    void write(const QByteArray& bytes);
    void keep_alive();

    const DataFiles& files_;
    EventLog& log_;
    MailboxAccount account_;
    MailboxAddress address_;
    IdleTimings timings_;
    QList<QSslCertificate> extra_authorities_;
    QSslSocket* socket_ = nullptr;
    QTimer reply_timer_;
    QTimer renew_timer_;
    QTimer retry_timer_;
    int retry_ms_ = 0;
    Step step_ = Step::Stopped;
    ResponseReader reader_;
    int next_tag_ = 1;
    QByteArray tag_;               // the command in progress
    QByteArrayList login_pieces_;  // LOGIN's pieces still to send, each after a "+"
    QByteArray challenge_answer_;  // the reply to a bearer token's error challenge
    Offers offers_;
    QByteArrayList listed_;
    MailboxStatus status_;
    MailboxStatus before_;  // what the connection before this one knew
    bool idled_ = false;    // this connection reached IDLE: its drop is logged
};

}  // namespace ostrel::imap
