#include "support/scripted_imap_server.h"

#include <QFile>
#include <QSslKey>
#include <QSslServer>
#include <QTimer>

#include "support/scripted_pop3_server.h"

namespace ostrel::testing {

ScriptedImapServer::ScriptedImapServer(QByteArrayList transcripts)
    : ScriptedImapServer(std::make_unique<QTcpServer>(), std::move(transcripts)) {}

// A connection is taken once its handshake is done (QSslServer makes it
// pending only then).
ScriptedImapServer::ScriptedImapServer(const QString& name, QByteArrayList transcripts)
    : ScriptedImapServer(
          [&name] {
              QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
              tls.setLocalCertificate(
                  QSslCertificate::fromPath(certificate_file(name + ".pem")).value(0));
              QFile key(certificate_file(name + ".key"));
              static_cast<void>(key.open(QIODevice::ReadOnly));
              tls.setPrivateKey(QSslKey(&key, QSsl::Rsa));
              auto server = std::make_unique<QSslServer>();
              server->setSslConfiguration(tls);
              return server;
          }(),
          std::move(transcripts)) {}

ScriptedImapServer::ScriptedImapServer(std::unique_ptr<QTcpServer> server,
                                       QByteArrayList transcripts)
    : transcripts(std::move(transcripts)), server_(std::move(server)) {
    connect(server_.get(), &QTcpServer::pendingConnectionAvailable, this,
            &ScriptedImapServer::accept);
    server_->listen(QHostAddress::LocalHost);
}

// The clients still connected go without telling the plays, which go first.
ScriptedImapServer::~ScriptedImapServer() {
    for (QTcpSocket* client : plays_.keys()) {
        client->disconnect(this);
    }
}

void ScriptedImapServer::accept() {
    while (QTcpSocket* client = server_->nextPendingConnection()) {
        ++connections;
        connect(client, &QTcpSocket::disconnected, this, [this, client] {
            plays_.remove(client);
            client->deleteLater();
        });
        if (transcripts.isEmpty()) {
            client->disconnectFromHost();
            continue;
        }
        plays_.insert(client, Play{transcripts.takeFirst().split('\n'), {}, {}, {}});
        connect(client, &QTcpSocket::readyRead, this, [this, client] { read(client); });
        play(client);
    }
}

void ScriptedImapServer::read(QTcpSocket* client) {
    Play& p = plays_[client];
    p.incoming += client->readAll();
    for (qsizetype end; (end = p.incoming.indexOf("\r\n")) >= 0;) {
        received << p.incoming.left(end);
        p.waiting << p.incoming.left(end);
        p.incoming.remove(0, end + 2);
    }
    play(client);
}

// Plays lines until the transcript waits for the client, pauses or ends.
void ScriptedImapServer::play(QTcpSocket* client) {
    Play& p = plays_[client];
    while (!p.lines.isEmpty()) {
        // Transcripts may be indented in the test's source.
        const QByteArray line = p.lines.first().trimmed();
        const QByteArray text = line.mid(3);
        if (line.startsWith("C: ")) {
            if (p.waiting.isEmpty()) {
                return;
            }
            const QByteArray got = p.waiting.takeFirst();
            const bool tagged = text.startsWith("{tag}");
            const qsizetype space = got.indexOf(' ');
            if (tagged ? space < 1 || got.mid(space) != text.mid(5) : got != text) {
                mismatch = mismatch.isEmpty() ? "expected " + text + " got " + got : mismatch;
                client->disconnectFromHost();
                return;
            }
            p.tag = tagged ? got.left(space) : p.tag;
        } else if (line.startsWith("S: ") || line.startsWith("S~ ")) {
            const QByteArray bytes = QByteArray(text).replace("{tag}", p.tag);
            client->write(line.startsWith("S: ") ? bytes + "\r\n" : bytes);
        } else if (line.startsWith("pause ")) {
            p.lines.removeFirst();
            QTimer::singleShot(line.mid(6).toInt(), client, [this, client] { play(client); });
            return;
        } else if (line == "close") {
            p.lines.clear();
            client->disconnectFromHost();
            return;
        }
        p.lines.removeFirst();
    }
}

}  // namespace ostrel::testing
