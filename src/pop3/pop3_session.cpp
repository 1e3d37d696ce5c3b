#include "pop3/pop3_session.h"

#include <QEventLoop>
#include <QSslSocket>
#include <QTimer>
#include <utility>

#include "core/app_state.h"
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

Pop3Session::Pop3Session(QTimer* Timer3, AppState& state, EventLog& log, QObject* parent)
    : QObject(parent), timer3_(Timer3), state_(state), log_(log), socket_(new QSslSocket(this)) {
    socket_->setObjectName(QStringLiteral("Winsock1"));
    connect(socket_, &QTcpSocket::readyRead, this, &Pop3Session::data_arrival);
    connect(socket_, &QTcpSocket::disconnected, this, &Pop3Session::server_closed);
    connect(socket_, &QTcpSocket::errorOccurred, this, &Pop3Session::socket_error);
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
    // A coarse timer may fire up to 5% early; the time-out is a promise to the user.
    timer3_->setTimerType(Qt::PreciseTimer);
    // The main window's own handler, connected first, sets timed_out; this
    // only ends the wait.
    connect(timer3_, &QTimer::timeout, this, &Pop3Session::wake);
}

Pop3Session::~Pop3Session() {
    socket_->disconnect(this);
}

void Pop3Session::connect_to(const QString& server) {
    if (!is_closed()) {
        return;
    }
    reply_.set_mode(ReplyMode::SingleLine);
    reply_.begin_reply();
    server_ = server;
    refused_ = false;
    broken_ = false;
    question_.clear();
    const ServerAddress address = parse_server_address(server);
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

void Pop3Session::begin_handshake() {
    securing_ = true;
    question_.clear();
    socket_->setSslConfiguration(pop3_tls_configuration(tls_.extra_authorities));
    socket_->setPeerVerifyName(host_);
}

WaitResult Pop3Session::start_tls() {
    if (socket_->state() != QAbstractSocket::ConnectedState) {
        refuse_secure_connection(QStringLiteral("the server closed the connection"));
        return WaitResult::NotConnected;
    }
    // Nothing the server sent in clear may pass for part of the dialogue.
    socket_->readAll();
    reply_.begin_reply();
    begin_handshake();
    socket_->startClientEncryption();
    const WaitResult result = wait_handshake();
    reply_.begin_reply();
    return result;
}

// Until the connection is encrypted. A certificate the system refused is put
// to the judge meanwhile; the handshake goes on only with its consent. The
// time-out runs afresh after each question.
WaitResult Pop3Session::wait_handshake() {
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
        if (!judge_ || !judge_(socket_->peerCertificate(), errors)) {
            refuse_secure_connection(tls_refusal_reason(errors));
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

bool Pop3Session::is_encrypted() const {
    return socket_->isEncrypted();
}

bool Pop3Session::is_closed() const {
    return socket_->state() == QAbstractSocket::UnconnectedState;
}

void Pop3Session::close() {
    socket_->abort();
}

WaitResult Pop3Session::wait_greeting() {
    if (securing_) {
        const WaitResult secured = wait_handshake();
        if (secured != WaitResult::Answered) {
            return secured;
        }
    }
    const WaitResult result = wait_reply();
    if (result == WaitResult::Ending) {
        return result;
    }
    return refused_ || result == WaitResult::Closed ? WaitResult::NotConnected : result;
}

WaitResult Pop3Session::sendMsg(const QString& m) {
    if (socket_->state() != QAbstractSocket::ConnectedState) {
        return WaitResult::Closed;
    }
    socket_->readAll();
    reply_.begin_reply();
    broken_ = false;
    const QByteArray line = m.toUtf8() + "\r\n";
    if (socket_->write(line) != line.size()) {
        send_failure_ = socket_->errorString();
        return WaitResult::SendFailed;
    }
    socket_->flush();
    return wait_reply();
}

void Pop3Session::begin_pipeline() {
    socket_->readAll();
    reply_.begin_reply();
}

WaitResult Pop3Session::send_ahead(const QByteArray& lines) {
    if (socket_->state() != QAbstractSocket::ConnectedState) {
        return WaitResult::Closed;
    }
    if (socket_->write(lines) != lines.size()) {
        send_failure_ = socket_->errorString();
        return WaitResult::SendFailed;
    }
    return WaitResult::Answered;
}

WaitResult Pop3Session::wait_next_reply() {
    reply_.next_reply();
    return wait_reply();
}

WaitResult Pop3Session::wait_reply() {
    const WaitResult result =
        wait_until([this] { return reply_.reply_done() || reply_.overflowed(); });
    if (result != WaitResult::Answered || reply_.reply_done()) {
        return result;
    }
    return WaitResult::Overflowed;
}

// Sleeps until `done` holds (Answered) or the wait ends otherwise. A nested
// loop that ends without being woken was ended by the program quitting.
WaitResult Pop3Session::wait_until(const std::function<bool()>& done) {
    bool ending = false;
    timer3_->start();
    while (!done() && !state_.timed_out && !refused_ && !broken_) {
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
    const bool timed_out = state_.timed_out;
    state_.timed_out = false;
    if (ending) {
        return WaitResult::Ending;
    }
    if (done()) {
        return WaitResult::Answered;
    }
    return timed_out ? WaitResult::TimedOut : WaitResult::Closed;
}

void Pop3Session::wake() {
    if (wait_loop_ != nullptr) {
        woken_ = true;
        wait_loop_->quit();
    }
}

void Pop3Session::data_arrival() {
    reply_.arrive(socket_->readAll());
    if (reply_.reply_done() || reply_.overflowed()) {
        wake();
    }
}

// The server closed its end. A reply that was complete stays complete; a
// wait for one in progress ends at once.
void Pop3Session::server_closed() {
    // Replies a pipelining server sent just before closing still count.
    if (socket_->isOpen()) {
        reply_.arrive(socket_->readAll());
    }
    broken_ = true;
    socket_->abort();
    wake();
}

// A close by the server is reported as a close, not as an error. Any other
// error (a refused connection, a name that does not resolve) is logged with
// the socket's words and ends the wait at once.
void Pop3Session::socket_error() {
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
void Pop3Session::refuse_secure_connection(const QString& reason) {
    if (refused_) {
        return;
    }
    refused_ = true;
    securing_ = false;
    log_.log_event(tls_failure_log_line(server_, reason));
    socket_->abort();
    wake();
}

}  // namespace ostrel
