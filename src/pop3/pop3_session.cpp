#include "pop3/pop3_session.h"

#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

#include "core/form1.h"
#include "pop3/server_address.h"

namespace ostrel {

Pop3Session::Pop3Session(Form1& form) : QObject(&form), form_(form), socket_(new QTcpSocket(this)) {
    socket_->setObjectName(QStringLiteral("Winsock1"));
    connect(socket_, &QTcpSocket::readyRead, this, &Pop3Session::data_arrival);
    connect(socket_, &QTcpSocket::disconnected, this, &Pop3Session::server_closed);
    connect(socket_, &QTcpSocket::errorOccurred, this, &Pop3Session::socket_error);
    // Form1's own handler sets timed_out first; this only ends the wait.
    connect(form_.Timer3, &QTimer::timeout, this, &Pop3Session::wake);
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
    const ServerAddress address = parse_server_address(server);
    socket_->connectToHost(address.host, address.port);
}

bool Pop3Session::is_closed() const {
    return socket_->state() == QAbstractSocket::UnconnectedState;
}

void Pop3Session::close() {
    socket_->abort();
}

WaitResult Pop3Session::wait_greeting() {
    return wait_reply();
}

WaitResult Pop3Session::sendMsg(const QString& m) {
    if (socket_->state() != QAbstractSocket::ConnectedState) {
        form_.log_event(QStringLiteral("Fatal error the connection to the server is not open"));
        return WaitResult::SendFailed;
    }
    socket_->readAll();
    reply_.begin_reply();
    const QByteArray line = m.toUtf8() + "\r\n";
    if (socket_->write(line) != line.size()) {
        form_.log_event(QStringLiteral("Fatal error ") + socket_->errorString());
        return WaitResult::SendFailed;
    }
    socket_->flush();
    const WaitResult result = wait_reply();
    form_.state().timed_out = false;
    return result;
}

// Sleeps until something the wait is for has happened. A nested loop that
// ends without being woken was ended by the program quitting.
WaitResult Pop3Session::wait_reply() {
    WaitResult result = WaitResult::Answered;
    form_.Timer3->start();
    while (!reply_.reply_done() && !reply_.overflowed() && !form_.state().timed_out) {
        QEventLoop loop;
        wait_loop_ = &loop;
        woken_ = false;
        loop.exec();
        wait_loop_ = nullptr;
        if (!woken_) {
            result = WaitResult::Ending;
            break;
        }
    }
    form_.Timer3->stop();
    return result;
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

// The server closed its end. A reply that was complete stays complete; one
// in progress stays incomplete, so its wait runs on to the time-out.
void Pop3Session::server_closed() {
    socket_->abort();
}

// A close by the server is reported as a close, not as an error.
void Pop3Session::socket_error() {
    if (socket_->error() == QAbstractSocket::RemoteHostClosedError) {
        return;
    }
    form_.log_event(socket_->errorString());
}

}  // namespace ostrel
