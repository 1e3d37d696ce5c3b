#pragma once

#include <QByteArrayList>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>

// A minimal POP3 server on 127.0.0.1 that speaks implicit TLS with a given
// certificate: it greets, refuses CAPA, accepts any login, reports an empty mailbox, and
// records every command line it decrypts.
class TlsPop3Server : public QTcpServer {
    Q_OBJECT
public:
    TlsPop3Server(const QString& certificate_file, const QString& key_file);

    bool listen_on_loopback() { return listen(QHostAddress::LocalHost, 0); }
    bool loaded() const { return !certificate_.isNull() && !key_.isNull(); }
    // Later connections get this certificate instead.
    void use_certificate(const QString& certificate_file, const QString& key_file);

    const QByteArrayList& received() const { return received_; }
    int handshakes_started() const { return handshakes_started_; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QSslCertificate certificate_;
    QSslKey key_;
    QByteArrayList received_;
    int handshakes_started_ = 0;
};
