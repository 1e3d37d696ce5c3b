#include "tls_pop3_server.h"

#include <QFile>
#include <QSslSocket>

namespace {

QByteArray file_bytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

TlsPop3Server::TlsPop3Server(const QString& certificate_file, const QString& key_file) {
    use_certificate(certificate_file, key_file);
}

void TlsPop3Server::use_certificate(const QString& certificate_file, const QString& key_file) {
    certificate_ = QSslCertificate(file_bytes(certificate_file), QSsl::Pem);
    key_ = QSslKey(file_bytes(key_file), QSsl::Rsa, QSsl::Pem);
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
            received_ << socket->readLine().trimmed();
            const QByteArray& command = received_.last();
            socket->write(command == "STAT"   ? "+OK 0 0\r\n"
                          : command == "CAPA" ? "-ERR unknown command\r\n"
                                              : "+OK\r\n");
        }
    });
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    ++handshakes_started_;
    socket->startServerEncryption();
}
