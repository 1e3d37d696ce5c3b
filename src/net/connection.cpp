#include "net/connection.h"

#include <QEventLoop>
#include <QSslSocket>
#include <QTimer>
#include <utility>

#include "core/event_log.h"
#include "net/server_address.h"
#include "net/tls_policy.h"

namespace ostrel {

namespace {

// Errors that, before the connection is encrypted, mean the handshake itself
// failed rather than the network.
bool ends_handshake(QAbstractSocket::SocketError error) {
    return error == QAbstractSocket::SslHandshakeFailedError ||
           error == QAbstractSocket::SslInternalError ||
           error == QAbstractSocket::SslInvalidUserDataError ||
           error == QAbstractSocket::RemoteHostClosedError;
}

}  // namespace

Connection::Connection(EventLog& log, int reply_timeout_ms, QObject* parent)
    : QObject(parent), log_(log), socket_(new QSslSocket(this)), timer3_(new QTimer(this)) {
    socket_->setObjectName(QStringLiteral("Winsock1"));
    connect(socket_, &QTcpSocket::readyRead, this, &Connection::data_arrival);
    connect(socket_, &QTcpSocket::disconnected, this, &Connection::server_closed);
    connect(socket_, &QTcpSocket::errorOccurred, this, &Connection::socket_error);
    // A refused certificate pauses the handshake until the judge has been
    // asked, outside this signal, in the wait that is running.
    socket_->setPauseMode(QAbstractSocket::PauseOnSslErrors);
    connect(socket_, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
        question_ = errors;
        wake();
    });
    connect(socket_, &QSslSocket::encrypted, this, [this] {
        securing_ = false;
        wake();
    });
    timer3_->setObjectName(QStringLiteral("Timer3"));
    timer3_->setInterval(reply_timeout_ms);
    timer3_->setSingleShot(true);
    // A coarse timer may fire up to 5% early; the time-out is a promise to the user.
    timer3_->setTimerType(Qt::PreciseTimer);
    connect(timer3_, &QTimer::timeout, this, [this] {
        timed_out_ = true;
        wake();
    });
}

Connection::~Connection() {
    socket_->disconnect(this);
}

void Connection::connect_to(const QString& server, quint16 default_port) {
    connect_to(server, parse_server_address(server, default_port));
}

void Connection::connect_to(const QString& server, const ServerAddress& address) {
    if (!is_closed()) {
        return;
    }
    server_ = server;
    refused_ = false;
    broken_ = false;
    question_.clear();
    host_ = address.host;
    if (address.port != tls_.port) {
        securing_ = false;
        socket_->connectToHost(address.host, address.port);
        return;
    }
    // The greeting arrives only once the handshake has verified the server,
    // so nothing, the password least of all, is sent over an unverified
    // connection.
    begin_handshake();
    socket_->connectToHostEncrypted(address.host, address.port, address.host);
}

void Connection::begin_handshake() {
    securing_ = true;
    question_.clear();
    judged_ = false;
    socket_->setSslConfiguration(tls_configuration(tls_.extra_authorities));
    socket_->setPeerVerifyName(host_);
}

WaitResult Connection::start_tls() {
    if (socket_->state() != QAbstractSocket::ConnectedState) {
        refuse_secure_connection(QStringLiteral("the server closed the connection"));
        return WaitResult::NotConnected;
    }
    // Nothing the server sent in clear may pass for part of the dialogue.
    socket_->readAll();
    begin_handshake();
    socket_->startClientEncryption();
    return wait_handshake();
}

// Until the connection is encrypted. A certificate the system refused is put
// to the judge meanwhile; the handshake goes on only with its consent. The
// time-out runs afresh after each question.
WaitResult Connection::wait_handshake() {
    for (;;) {
        const WaitResult result = wait_until([this] { return !securing_ || !question_.isEmpty(); });
        if (result == WaitResult::Ending) {
            return result;
        }
        if (result == WaitResult::TimedOut && socket_->state() == QAbstractSocket::ConnectedState) {
            refuse_secure_connection(
                QStringLiteral("the server did not complete the TLS handshake in time"));
        }
        if (refused_ || result != WaitResult::Answered) {
            return WaitResult::NotConnected;
        }
        if (question_.isEmpty()) {
            return WaitResult::Answered;
        }
        const QList<QSslError> errors = std::exchange(question_, {});
        judged_ = true;
        const CertificateVerdict verdict =
            judge_ ? judge_(server_, socket_->peerCertificate(), errors) : CertificateVerdict();
        if (!verdict.accepted) {
            refuse_secure_connection(verdict.refusal.isEmpty() ? tls_refusal_reason(errors)
                                                               : verdict.refusal);
            return WaitResult::NotConnected;
        }
        if (socket_->state() != QAbstractSocket::ConnectedState) {
            refuse_secure_connection(QStringLiteral("the server closed the connection"));
            return WaitResult::NotConnected;
        }
        socket_->ignoreSslErrors(errors);
        socket_->resume();
    }
}

bool Connection::is_encrypted() const {
    return socket_->isEncrypted();
}

bool Connection::is_closed() const {
    return socket_->state() == QAbstractSocket::UnconnectedState;
}

// The socket's close signal comes from inside abort(): the close handler is
// told that this close is the program's own, with nothing left to read.
void Connection::close() {
    closing_ = true;
    socket_->abort();
    closing_ = false;
}

WaitResult Connection::wait_secured() {
    return securing_ ? wait_handshake() : WaitResult::Answered;
}

void Connection::drop_unread() {
    socket_->readAll();
}

WaitResult Connection::send(const QByteArray& bytes) {
    if (socket_->state() != QAbstractSocket::ConnectedState) {
        return WaitResult::Closed;
    }
    broken_ = false;
    if (socket_->write(bytes) != bytes.size()) {
        send_failure_ = socket_->errorString();
        return WaitResult::SendFailed;
    }
    socket_->flush();
    return WaitResult::Answered;
}

// Sleeps until `done` holds (Answered) or the wait ends otherwise. A nested
// loop that ends without being woken was ended by the program quitting.
WaitResult Connection::wait_until(const std::function<bool()>& done) {
    bool ending = false;
    timed_out_ = false;
    timer3_->start();
    while (!done() && !timed_out_ && !refused_ && !broken_) {
        QEventLoop loop;
        wait_loop_ = &loop;
        woken_ = false;
        loop.exec();
        wait_loop_ = nullptr;
        if (!woken_) {
            ending = true;
            break;
        }
    }
    timer3_->stop();
    const bool timed_out = std::exchange(timed_out_, false);
    if (ending) {
        return WaitResult::Ending;
    }
    if (done()) {
        return WaitResult::Answered;
    }
    return timed_out ? WaitResult::TimedOut : WaitResult::Closed;
}

void Connection::wake() {
    if (wait_loop_ != nullptr) {
        woken_ = true;
        wait_loop_->quit();
    }
}

void Connection::data_arrival() {
    const QByteArray bytes = socket_->readAll();
    if (receiver_ && receiver_(bytes)) {
        wake();
    }
}

// The server closed its end. A reply that was complete stays complete; a
// wait for one in progress ends at once.
void Connection::server_closed() {
    if (closing_) {
        return;
    }
    // Replies a pipelining server sent just before closing still count.
    if (socket_->isOpen() && receiver_) {
        receiver_(socket_->readAll());
    }
    broken_ = true;
    close();
    wake();
}

// A close by the server is reported as a close, not as an error. Any other
// error (a refused connection, a name that does not resolve) is logged with
// the socket's words and ends the wait at once.
void Connection::socket_error() {
    if (refused_) {
        return;
    }
    if (securing_ && ends_handshake(socket_->error())) {
        refuse_secure_connection(
            QStringLiteral("the TLS handshake failed (%1)").arg(socket_->errorString()));
        return;
    }
    if (socket_->error() == QAbstractSocket::RemoteHostClosedError) {
        return;
    }
    log_.log_event(socket_->errorString());
    broken_ = true;
    wake();
}

// One log line with the reason; the wait then ends as a failed connection.
void Connection::refuse_secure_connection(const QString& reason) {
    if (refused_) {
        return;
    }
    refused_ = true;
    securing_ = false;
    log_.log_event(tls_failure_log_line(server_, reason));
    close();
    wake();
}

}  // namespace ostrel
