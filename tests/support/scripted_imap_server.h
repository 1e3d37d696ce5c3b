#pragma once

#include <QByteArrayList>
#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

namespace ostrel::testing {

// An IMAP server on 127.0.0.1 that plays transcripts, for what real servers
// never do. A transcript is lines separated by "\n":
//   S: text   sent with CR LF ("S~ text": without, a response cut short)
//   C: text   the line the client must send next. A leading "{tag}" takes
//             the client's tag, and "{tag}" in later S: lines repeats it.
//   pause N   N ms of silence
//   close     the server closes the connection
// Each connection plays the next transcript of the queue, and is closed at
// once when none is left. After its last line the server stays silent (a
// stall). A client line that does not match is kept in `mismatch` and the
// connection is closed.
class ScriptedImapServer : public QObject {
    Q_OBJECT
public:
    explicit ScriptedImapServer(QByteArrayList transcripts = {});
    // Speaks TLS from the first byte, with the test certificate `name`
    // (name.pem, name.key).
    ScriptedImapServer(const QString& name, QByteArrayList transcripts);
    ~ScriptedImapServer() override;

    quint16 port() const { return server_->serverPort(); }

    QByteArrayList transcripts;
    QByteArrayList received;  // every client line, without CR LF, over all connections
    QByteArray mismatch;      // "expected ... got ...", the first one only
    int connections = 0;

private:
    ScriptedImapServer(std::unique_ptr<QTcpServer> server, QByteArrayList transcripts);

    struct Play {
        QByteArrayList lines;    // what is left of the transcript
        QByteArrayList waiting;  // client lines not yet matched
        QByteArray incoming, tag;
    };
    void accept();
    void read(QTcpSocket* client);
    void play(QTcpSocket* client);

    std::unique_ptr<QTcpServer> server_;
    QHash<QTcpSocket*, Play> plays_;
};

}  // namespace ostrel::testing
