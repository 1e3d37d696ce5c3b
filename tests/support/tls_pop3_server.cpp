#include "tls_pop3_server.h"

#include <QFile>
#include <QSslSocket>

namespace {

QByteArray file_bytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

TlsPop3Server::TlsPop3Server(const QString& certificate_file, const QString& key_file)
    : certificate_(file_bytes(certificate_file), QSsl::Pem),
      key_(file_bytes(key_file), QSsl::Rsa, QSsl::Pem) {}

void TlsPop3Server::use_certificate(const QString& certificate_file, const QString& key_file) {
    certificate_ = QSslCertificate(file_bytes(certificate_file), QSsl::Pem);
    key_ = QSslKey(file_bytes(key_file), QSsl::Rsa, QSsl::Pem);
}

bool TlsPop3Server::listen_on_loopback() {
    return listen(QHostAddress::LocalHost, 0);
}

void TlsPop3Server::incomingConnection(qintptr descriptor) {
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setLocalCertificate(certificate_);
    socket->setPrivateKey(key_);
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    connect(socket, &QSslSocket::encrypted, socket,
            [socket] { socket->write("+OK test server ready\r\n"); });
    connect(socket, &QSslSocket::readyRead, socket, [this, socket] {
        while (socket->canReadLine()) {
            answer(*socket, socket->readLine().trimmed());
        }
    });
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    ++handshakes_started_;
    socket->startServerEncryption();
}

void TlsPop3Server::answer(QIODevice& socket, const QByteArray& line) {
    received_ << line;
    if (line == "STAT") {
        socket.write("+OK 0 0\r\n");
    } else {
        socket.write("+OK\r\n");
    }
}
