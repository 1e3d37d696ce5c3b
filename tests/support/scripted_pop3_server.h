#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>

namespace ostrel::testing {

// What the scripted server does in answer to the greeting moment or to one
// command line.
struct ScriptedReply {
    QByteArrayList pieces;  // written one by one, with a short pause between
    bool close_after = false;
    int delay_ms = 0;         // silence before the first piece
    bool starts_tls = false;  // then the server's side of a TLS handshake

    static ScriptedReply text(const QByteArray& reply) { return {{reply}}; }
    static ScriptedReply split(const QByteArrayList& pieces) { return {pieces}; }
    static ScriptedReply silence() { return {}; }
    static ScriptedReply close(const QByteArray& before) { return {{before}, true}; }
    static ScriptedReply late(const QByteArray& reply, int ms) { return {{reply}, false, ms}; }
    // `reply` (CR LF added), then the connection turns into TLS: the answer to STLS.
    static ScriptedReply start_tls(const QByteArray& reply) {
        return {{reply + "\r\n"}, false, 0, true};
    }
    // `reply` cut into pieces of `size` bytes.
    static ScriptedReply in_pieces_of(const QByteArray& reply, int size);
};

// One line of a dialogue: "S: text" is what the server says (CR LF is
// added), "C: line" the command line the client must send next, "--" the
// client closing and connecting again. A ScriptedReply is what the server
// says in pieces, late, or before closing.
struct Said {
    Said(const char* line) : Said(QByteArray(line)) {}
    explicit Said(const QByteArray& line);
    Said(const ScriptedReply& reply) : reply(reply) {}

    enum Kind { Server, Client, Reconnect } kind = Server;
    QByteArray client;
    ScriptedReply reply;
};
using Transcript = QList<Said>;

// A server without CAPA greets and accepts the login "ann", "secret"; the
// client then asks for STAT.
inline const Transcript kLoggedIn = {"S: +OK hi", "C: CAPA",        "S: -ERR", "C: USER ann",
                                     "S: +OK",    "C: PASS secret", "S: +OK",  "C: STAT"};

// The test certificate or key file `name` (scripts/make-test-certificates).
QString certificate_file(const QString& name);

// The header block a TOP of message `k` answers with, status line included.
QByteArray top_reply(const QByteArray& from, const QByteArray& subject);

// A POP3 server on 127.0.0.1 that answers from a script, for what real servers
// never do. It follows `transcript` first: each command line must be the next
// "C:" line (anything else fails the test and closes the connection), and the
// "S:" lines after it are the answer; the greeting is the "S:" lines before
// the first command. A transcript the client leaves unfinished fails the
// test. After the transcript, `responder` answers (default: silence), and
// CAPA gets the listing of `capabilities`, or "-ERR" when there are none, as
// an old server does.
class ScriptedPop3Server : public QObject {
    Q_OBJECT
public:
    using Responder = std::function<ScriptedReply(const QByteArray& command)>;

    ScriptedPop3Server();
    // Speaks TLS from the first byte, with the test certificate `name`
    // (name.pem, name.key).
    explicit ScriptedPop3Server(const QString& name);
    ~ScriptedPop3Server() override;

    quint16 port() const { return server_.serverPort(); }
    // The test certificate `name` that a start_tls reply, or a later
    // connection from the first byte, offers.
    void use_certificate(const QString& name);
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }

    Transcript transcript;
    Responder responder;
    QByteArrayList capabilities;
    int piece_gap_ms = 3;

    // Every command line received, without its CR LF, over all connections;
    // the connections accepted (with TLS from the first byte: the handshakes
    // begun).
    QByteArrayList commands;
    int connections = 0;

    // A responder for a mailbox of the given header blocks; UIDL lists
    // `unique_ids` (one per block) and LIST the blocks' sizes, or both are
    // refused when there are none.
    static Responder mailbox(const QList<QByteArray>& blocks,
                             const QByteArrayList& unique_ids = {});

private:
    void accept();
    void read_commands();
    void answer(const QByteArray& command);
    bool follow(const QByteArray& command);
    void play(ScriptedReply reply);
    void write_next_piece();
    void start_server_tls();

    // Every connection is a QSslSocket, plain until a reply starts TLS.
    class Listener : public QTcpServer {
    protected:
        void incomingConnection(qintptr descriptor) override;
    };

    Listener server_;
    QSslCertificate certificate_;
    QSslKey key_;
    bool tls_from_first_byte_ = false;
    QPointer<QTcpSocket> client_;
    QByteArray incoming_;
    QList<ScriptedReply> playing_;
};

}  // namespace ostrel::testing
