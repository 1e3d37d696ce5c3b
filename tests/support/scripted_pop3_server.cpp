#include "support/scripted_pop3_server.h"

#include <QFile>
#include <QSslSocket>
#include <QTest>
#include <QTimer>
#include <utility>

namespace ostrel::testing {

Said::Said(const QByteArray& line) {
    if (line == "--") {
        kind = Reconnect;
    } else if (line.startsWith("C: ")) {
        kind = Client;
        client = line.mid(3);
    } else if (line.startsWith("S: ")) {
        reply = ScriptedReply::text(line.mid(3) + "\r\n");
    } else {
        qFatal("a transcript line begins with \"S: \", \"C: \" or is \"--\": %s", line.constData());
    }
}

ScriptedReply ScriptedReply::in_pieces_of(const QByteArray& reply, int size) {
    QByteArrayList pieces;
    for (int at = 0; at < reply.size(); at += size) {
        pieces << reply.mid(at, size);
    }
    return split(pieces);
}

QString certificate_file(const QString& name) {
    return qEnvironmentVariable("OSTREL_TEST_CERTS") + QLatin1Char('/') + name;
}

QByteArray top_reply(const QByteArray& from, const QByteArray& subject) {
    return "+OK\r\nReceived: by test\r\nFrom: " + from + "\r\nSubject: " + subject +
           "\r\nDate: Sun, 6 Dec 2026 10:00:00 +0000\r\n\r\n.\r\n";
}

ScriptedPop3Server::ScriptedPop3Server() {
    responder = [](const QByteArray&) { return ScriptedReply::silence(); };
    connect(&server_, &QTcpServer::newConnection, this, &ScriptedPop3Server::accept);
    server_.listen(QHostAddress::LocalHost);
}

ScriptedPop3Server::ScriptedPop3Server(const QString& name) : ScriptedPop3Server() {
    use_certificate(name);
    tls_from_first_byte_ = true;
}

ScriptedPop3Server::~ScriptedPop3Server() {
    for (const Said& said : transcript) {
        if (said.kind == Said::Client) {
            QTest::qFail(qPrintable("the client never sent C: " + said.client), __FILE__, __LINE__);
            return;
        }
    }
}

ScriptedPop3Server::Responder ScriptedPop3Server::mailbox(const QList<QByteArray>& blocks,
                                                          const QByteArrayList& unique_ids) {
    return [blocks, unique_ids](const QByteArray& command) {
        if (command == "STAT") {
            return ScriptedReply::text("+OK " + QByteArray::number(blocks.size()) + " 4096\r\n");
        }
        if ((command == "UIDL" || command == "LIST") && unique_ids.isEmpty()) {
            return ScriptedReply::text("-ERR unknown command\r\n");
        }
        if (command == "UIDL" || command == "LIST") {
            QByteArray listing = "+OK\r\n";
            for (int k = 1; k <= unique_ids.size(); ++k) {
                listing += QByteArray::number(k) + ' ' +
                           (command == "UIDL" ? unique_ids[k - 1]
                                              : QByteArray::number(blocks[k - 1].size())) +
                           "\r\n";
            }
            return ScriptedReply::text(listing + ".\r\n");
        }
        const int k = command.startsWith("TOP ") ? command.split(' ').value(1).toInt() : 0;
        if (command.startsWith("TOP ")) {
            return ScriptedReply::text(k < 1 || k > blocks.size() ? "-ERR no such message\r\n"
                                                                  : blocks[k - 1]);
        }
        return ScriptedReply::text("+OK\r\n");
    };
}

void ScriptedPop3Server::Listener::incomingConnection(qintptr descriptor) {
    auto* socket = new QSslSocket(this);
    if (socket->setSocketDescriptor(descriptor)) {
        addPendingConnection(socket);
    } else {
        delete socket;
    }
}

void ScriptedPop3Server::use_certificate(const QString& name) {
    certificate_ = QSslCertificate::fromPath(certificate_file(name + ".pem")).value(0);
    QFile key(certificate_file(name + ".key"));
    QVERIFY(!certificate_.isNull() && key.open(QIODevice::ReadOnly));
    key_ = QSslKey(key.readAll(), QSsl::Rsa);
}

// The handshake with the client; what is written meanwhile goes out
// encrypted once it is done.
void ScriptedPop3Server::start_server_tls() {
    auto* socket = static_cast<QSslSocket*>(client_.data());
    socket->setLocalCertificate(certificate_);
    socket->setPrivateKey(key_);
    socket->startServerEncryption();
}

void ScriptedPop3Server::accept() {
    while (QTcpSocket* next = server_.nextPendingConnection()) {
        if (client_) {
            client_->abort();
            client_->deleteLater();
        }
        client_ = next;
        ++connections;
        incoming_.clear();
        playing_.clear();
        connect(next, &QTcpSocket::readyRead, this, &ScriptedPop3Server::read_commands);
        connect(next, &QTcpSocket::disconnected, next, &QObject::deleteLater);
        if (tls_from_first_byte_) {
            start_server_tls();
        }
        if (!transcript.isEmpty() && transcript.first().kind == Said::Reconnect) {
            transcript.removeFirst();
        }
        answer(QByteArray());
    }
}

void ScriptedPop3Server::read_commands() {
    incoming_ += client_ ? client_->readAll() : QByteArray();
    for (qsizetype end; (end = incoming_.indexOf("\r\n")) >= 0;) {
        const QByteArray command = incoming_.left(end);
        incoming_.remove(0, end + 2);
        commands << command;
        answer(command);
    }
}

// The greeting is answered with an empty command.
void ScriptedPop3Server::answer(const QByteArray& command) {
    if (follow(command)) {
        return;
    }
    if (command == "CAPA") {
        play(ScriptedReply::text(capabilities.isEmpty()
                                     ? QByteArray("-ERR unknown command\r\n")
                                     : "+OK\r\n" + capabilities.join("\r\n") + "\r\n.\r\n"));
    } else if (command.isEmpty()) {
        play(ScriptedReply::text("+OK scripted server ready\r\n"));
    } else {
        play(responder(command));
    }
}

// Takes `command` (empty: the greeting) from the transcript, if it has one
// left, and plays the server's lines after it.
bool ScriptedPop3Server::follow(const QByteArray& command) {
    if (transcript.isEmpty()) {
        return false;
    }
    if (!command.isEmpty()) {
        const Said expected = transcript.takeFirst();
        if (expected.kind != Said::Client || expected.client != command) {
            const QByteArray wanted = expected.kind == Said::Client ? expected.client : "nothing";
            QTest::qFail(qPrintable("the client sent \"" + command +
                                    "\" where the transcript has \"" + wanted + '"'),
                         __FILE__, __LINE__);
            transcript.clear();
            playing_.clear();
            client_->abort();
            return true;
        }
    }
    while (!transcript.isEmpty() && transcript.first().kind == Said::Server) {
        play(transcript.takeFirst().reply);
    }
    return true;
}

void ScriptedPop3Server::play(ScriptedReply reply) {
    playing_ << reply;
    if (playing_.size() == 1) {
        write_next_piece();
    }
}

// Replies to commands sent ahead follow each other at once, as a pipelining
// server's do; one that waits or comes in pieces begins a little later.
void ScriptedPop3Server::write_next_piece() {
    while (client_ && !playing_.isEmpty()) {
        ScriptedReply& reply = playing_.first();
        if (reply.delay_ms > 0) {
            // A late reply is for the connection that asked for it only.
            const QPointer<QTcpSocket> asked = client_;
            QTimer::singleShot(std::exchange(reply.delay_ms, 0), this, [this, asked] {
                if (asked == client_) {
                    write_next_piece();
                }
            });
            return;
        }
        if (!reply.pieces.isEmpty()) {
            client_->write(reply.pieces.takeFirst());
            client_->flush();
            if (!reply.pieces.isEmpty()) {
                QTimer::singleShot(piece_gap_ms, this, &ScriptedPop3Server::write_next_piece);
                return;
            }
        }
        if (reply.close_after) {
            playing_.clear();
            client_->disconnectFromHost();
            return;
        }
        if (reply.starts_tls) {
            start_server_tls();
        }
        playing_.removeFirst();
        if (!playing_.isEmpty() && playing_.first().pieces.size() > 1) {
            QTimer::singleShot(piece_gap_ms, this, &ScriptedPop3Server::write_next_piece);
            return;
        }
    }
}

}  // namespace ostrel::testing
