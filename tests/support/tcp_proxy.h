#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <memory>
#include <vector>

class QTcpSocket;
class QTimer;

namespace ostrel::testing {

// A TCP relay on 127.0.0.1 in front of a server: it records what clients send
// and can hold every piece back for a fixed one-way delay in each direction,
// to stand in for a distant server.
class TcpProxy : public QObject {
    Q_OBJECT
public:
    TcpProxy(const QString& target_host, quint16 target_port, int one_way_delay_ms = 0);
    ~TcpProxy() override;

    quint16 port() const { return server_.serverPort(); }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }

    // Everything clients sent, over all connections, in order.
    const QByteArray& client_bytes() const { return client_bytes_; }
    // How many bytes clients received, over all connections.
    qint64 bytes_to_clients() const { return bytes_to_clients_; }
    // Answers a client's CAPA with "-ERR" itself, one round trip later, as a
    // server without capabilities would; the server never sees it.
    void refuse_capa(bool refuse = true) { refuse_capa_ = refuse; }
    // Takes the line `line` (without its CR LF) out of every server reply
    // that holds it, as an attacker in between would strip a capability.
    void strip_reply_line(const QByteArray& line) { stripped_line_ = line; }
    int connections() const { return connections_; }
    // Cuts every connection at once, as a network that fails would.
    void drop_connections();

private:
    struct Direction;
    struct Pair;

    void accept();
    void relay(Pair& pair, Direction& direction, bool from_client);
    void deliver(Direction& direction);
    void drop(Pair* pair);

    QString target_host_;
    quint16 target_port_;
    int delay_ms_;
    QTcpServer server_;
    QElapsedTimer clock_;
    QByteArray client_bytes_;
    qint64 bytes_to_clients_ = 0;
    bool refuse_capa_ = false;
    QByteArray stripped_line_;
    int connections_ = 0;
    std::vector<std::unique_ptr<Pair>> pairs_;
};

}  // namespace ostrel::testing
