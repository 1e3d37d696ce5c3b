#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>

namespace ostrel::testing {

// What the scripted server does in answer to the greeting moment or to one
// command line.
struct ScriptedReply {
    QByteArrayList pieces;  // written one by one, with a short pause between
    bool close_after = false;
    int delay_ms = 0;  // silence before the first piece

    static ScriptedReply text(const QByteArray& reply) { return {{reply}}; }
    static ScriptedReply split(const QByteArrayList& pieces) { return {pieces}; }
    static ScriptedReply silence() { return {}; }
    static ScriptedReply close(const QByteArray& before) { return {{before}, true}; }
    static ScriptedReply late(const QByteArray& reply, int ms) { return {{reply}, false, ms}; }
    // `reply` cut into pieces of `size` bytes.
    static ScriptedReply in_pieces_of(const QByteArray& reply, int size);
};

// The header block a TOP of message `k` answers with, status line included.
QByteArray top_reply(const QByteArray& from, const QByteArray& subject);

// A POP3 server on 127.0.0.1 that answers from a script, for what real servers
// never do. The greeting and each command line take the next reply of the
// queue; once it is empty, `responder` answers (default: silence). CAPA is
// never taken from the queue: `capa` answers it, by default with the listing
// of `capabilities`, or "-ERR" when there are none, as an old server does.
class ScriptedPop3Server : public QObject {
    Q_OBJECT
public:
    using Responder = std::function<ScriptedReply(const QByteArray& command)>;

    ScriptedPop3Server();

    quint16 port() const { return server_.serverPort(); }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }

    QList<ScriptedReply> queue;
    Responder responder;
    QByteArrayList capabilities;
    Responder capa;
    int piece_gap_ms = 3;

    // Every command line received, without its CR LF, over all connections.
    QByteArrayList commands;
    int connections = 0;

    // A responder for a mailbox of the given header blocks; UIDL lists
    // `unique_ids` (one per block), or is refused when there are none.
    static Responder mailbox(const QList<QByteArray>& blocks,
                             const QByteArrayList& unique_ids = {});

private:
    void accept();
    void read_commands();
    void answer(const QByteArray& command);
    void play(ScriptedReply reply);
    void write_next_piece();

    QTcpServer server_;
    QPointer<QTcpSocket> client_;
    QByteArray incoming_;
    QList<ScriptedReply> playing_;
};

}  // namespace ostrel::testing
