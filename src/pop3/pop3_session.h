#pragma once

#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>
#include <functional>

#include "net/tls_policy.h"
#include "pop3/reply_assembler.h"

class QEventLoop;
class QSslSocket;

class QTimer;

namespace ostrel {

class EventLog;
struct AppState;

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

// Which port speaks POP3 over implicit TLS and which authorities are trusted
// beside the system's. The product keeps the defaults; tests give their own
// authority and port.
struct TlsSettings {
    quint16 port = kPop3TlsPort;
    QList<QSslCertificate> extra_authorities;
};

// Decides about a certificate the system refused, with the reasons: true to
// go on with exactly this certificate. It may open a message box.
using CertificateJudge = std::function<bool(const QSslCertificate&, const QList<QSslError>&)>;

// The dialogue with one server over the main window's socket: the connection,
// `sendMsg`, the socket's events and the waits. A wait sleeps in a nested
// event loop until a reply completes, the reply time-out `Timer3` sets
// `state.timed_out`, or a reply is abandoned; window events keep running
// meanwhile. Socket failures go to `log`.
class Pop3Session : public QObject {
    Q_OBJECT
public:
    Pop3Session(QTimer* Timer3, AppState& state, EventLog& log, QObject* parent = nullptr);
    ~Pop3Session() override;

    // Connects to `server` ("host", "host:port" or "[v6]:port") unless the
    // socket is already in use. This is the one place a connection is made.
    void connect_to(const QString& server);
    void set_tls_settings(const TlsSettings& settings) { tls_ = settings; }
    // Without a judge every refused certificate fails the connection.
    void set_certificate_judge(CertificateJudge judge) { judge_ = std::move(judge); }
    bool is_closed() const;
    bool is_encrypted() const;
    void close();

    // The greeting wait: until the first reply after connecting is complete.
    // A refused connection or a name that does not resolve ends it at once.
    WaitResult wait_greeting();
    // Sends `m` and CR LF as one write and waits for its reply. Leftovers of
    // an earlier reply are dropped first. Anything but Answered leaves the
    // stream untrustworthy: the caller must close the connection.
    WaitResult sendMsg(const QString& m);
    // After the server's "+OK" to STLS: the TLS handshake on this connection,
    // verified as on the implicit-TLS port. Answered once encrypted;
    // NotConnected when the handshake failed or the certificate was refused
    // (logged); Ending when the program is ending.
    WaitResult start_tls();
    const QString& send_failure() const { return send_failure_; }

    // Pipelined commands, for a server that offers PIPELINING: begin_pipeline
    // drops leftovers of earlier replies; send_ahead writes command lines
    // (each ended by CR LF) without waiting, and is Answered once they are
    // written; wait_next_reply takes the replies in order, each one starting
    // with the bytes that came after the one before. Each wait has the full
    // reply time-out, so a stream that keeps delivering replies never times
    // out, and one that stops for that long does.
    void begin_pipeline();
    WaitResult send_ahead(const QByteArray& lines);
    WaitResult wait_next_reply();

    void set_reply_mode(ReplyMode mode) { reply_.set_mode(mode); }
    void set_reply_cap(qsizetype cap) { reply_.set_cap(cap); }
    const ReplyAssembler& reply() const { return reply_; }

private:
    void data_arrival();
    void server_closed();
    void socket_error();
    void refuse_secure_connection(const QString& reason);
    void begin_handshake();
    WaitResult wait_handshake();
    WaitResult wait_reply();
    WaitResult wait_until(const std::function<bool()>& done);
    void wake();

    QTimer* timer3_;
    AppState& state_;
    EventLog& log_;
    QSslSocket* socket_;
    TlsSettings tls_;
    CertificateJudge judge_;
    QString server_;
    QString host_;
    bool securing_ = false;
    QList<QSslError> question_;  // a refused certificate waiting for the judge
    bool refused_ = false;
    bool broken_ = false;
    QString send_failure_;
    ReplyAssembler reply_;
    QEventLoop* wait_loop_ = nullptr;
    bool woken_ = false;
};

}  // namespace ostrel
