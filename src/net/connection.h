#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <functional>

#include "net/server_address.h"

class QEventLoop;
class QSslSocket;
class QTimer;

namespace ostrel {

class EventLog;

// How a wait for a reply ended.
enum class WaitResult {
    Answered,      // the reply is complete
    TimedOut,      // no complete reply within the reply time-out
    Closed,        // the connection closed or failed before the reply was complete
    Overflowed,    // the reply grew past the cap without completing
    SendFailed,    // the command could not be written; see send_failure()
    Ending,        // the program is ending: the check must stop at once
    NotConnected,  // greeting only: no connection could be made or secured (logged)
};

// How long a server may take over each reply.
inline constexpr int kReplyTimeoutMs = 15000;

// Which port speaks TLS from the first byte (0: none) and which authorities
// are trusted beside the system's. Each protocol names its own port; tests
// give their own authority and port.
struct TlsSettings {
    quint16 port = 0;
    QList<QSslCertificate> extra_authorities;
};

// A judge's decision on a certificate the system refused.
struct CertificateVerdict {
    bool accepted = false;
    QString refusal;  // why not, for the log line; empty: the system's reasons
};

// Decides about a certificate the system refused for `server`, with the
// reasons: accepted to go on with exactly this certificate. It may open a
// message box.
using CertificateJudge = std::function<CertificateVerdict(
    const QString& server, const QSslCertificate&, const QList<QSslError>&)>;

// One connection to a mail server at a time, over one socket: connecting
// (over TLS from the first byte on the TLS port), the TLS upgrade of a plain
// connection, writing, and the waits. A wait sleeps in a nested event loop
// until the protocol's condition holds, the connection closes or fails, or
// the reply timer `Timer3` runs out; window events keep running meanwhile.
// Socket failures and refused secure connections go to `log`. What arrives
// is handed to the receiver, which the protocol sets.
class Connection : public QObject {
    Q_OBJECT
public:
    // Takes the bytes that arrived; true when the wait in progress may end.
    using Receiver = std::function<bool(const QByteArray&)>;

    explicit Connection(EventLog& log, int reply_timeout_ms = kReplyTimeoutMs,
                        QObject* parent = nullptr);
    ~Connection() override;

    void set_receiver(Receiver receiver) { receiver_ = std::move(receiver); }
    void set_tls_settings(const TlsSettings& settings) { tls_ = settings; }
    // Without a judge every refused certificate fails the connection.
    void set_certificate_judge(CertificateJudge judge) { judge_ = std::move(judge); }

    // Connects to `server` ("host", "host:port" or "[v6]:port", `default_port`
    // when none is written) unless the socket is already in use. This is the
    // one place a connection is made.
    void connect_to(const QString& server, quint16 default_port);
    // The same to an address already read from the field: `server` is only
    // the name log lines and the certificate judge are given.
    void connect_to(const QString& server, const ServerAddress& address);
    bool is_closed() const;
    bool is_encrypted() const;
    // Encrypted, with a certificate the system verified: no judge was asked.
    bool verified_by_system() const { return is_encrypted() && !judged_; }
    void close();

    // On the TLS port: until the handshake has verified the server. Answered
    // at once on a plain connection.
    [[nodiscard]] WaitResult wait_secured();
    // A plain connection turned into TLS, verified as on the TLS port.
    // Answered once encrypted; NotConnected when the handshake failed or the
    // certificate was refused (logged); Ending when the program is ending.
    // Whatever arrived in clear before it is dropped.
    [[nodiscard]] WaitResult start_tls();
    // A secure connection was refused (logged) since the latest connect_to.
    bool refused() const { return refused_; }

    // Drops bytes that arrived but were not handed to the receiver yet.
    void drop_unread();
    // Writes `bytes` and sends them on their way: Answered once written,
    // Closed when not connected, SendFailed (see send_failure) otherwise.
    [[nodiscard]] WaitResult send(const QByteArray& bytes);
    const QString& send_failure() const { return send_failure_; }
    // Sleeps until `done` holds (Answered) or the wait ends otherwise
    // (TimedOut, Closed, Ending). Each wait has the full reply time-out.
    [[nodiscard]] WaitResult wait_until(const std::function<bool()>& done);

    const QTimer* reply_timer() const { return timer3_; }

private:
    void data_arrival();
    void server_closed();
    void socket_error();
    void refuse_secure_connection(const QString& reason);
    void begin_handshake();
    [[nodiscard]] WaitResult wait_handshake();
    void wake();

    EventLog& log_;
    QSslSocket* socket_;
    QTimer* timer3_;
    Receiver receiver_;
    TlsSettings tls_;
    CertificateJudge judge_;
    QString server_;
    QString host_;
    bool securing_ = false;
    QList<QSslError> question_;  // a refused certificate waiting for the judge
    bool judged_ = false;        // the judge decided about this connection's certificate
    bool refused_ = false;
    bool broken_ = false;
    bool closing_ = false;  // the program is closing the connection itself
    bool timed_out_ = false;
    QString send_failure_;
    QEventLoop* wait_loop_ = nullptr;
    bool woken_ = false;
};

}  // namespace ostrel
