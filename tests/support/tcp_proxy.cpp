#include "support/tcp_proxy.h"

#include <QTcpSocket>
#include <QTimer>
#include <deque>

namespace ostrel::testing {

// Bytes in flight one way, each piece with the moment it may be passed on.
struct TcpProxy::Direction {
    QTcpSocket* to = nullptr;
    QTimer* timer = nullptr;
    std::deque<std::pair<qint64, QByteArray>> pending;
};

struct TcpProxy::Pair {
    QTcpSocket* client = nullptr;
    QTcpSocket* upstream = nullptr;
    Direction up;
    Direction down;
};

TcpProxy::TcpProxy(const QString& target_host, quint16 target_port, int one_way_delay_ms)
    : target_host_(target_host), target_port_(target_port), delay_ms_(one_way_delay_ms) {
    clock_.start();
    connect(&server_, &QTcpServer::newConnection, this, &TcpProxy::accept);
    server_.listen(QHostAddress::LocalHost);
}

TcpProxy::~TcpProxy() {
    for (auto& pair : pairs_) {
        pair->client->disconnect(this);
        pair->upstream->disconnect(this);
    }
}

void TcpProxy::accept() {
    while (QTcpSocket* client = server_.nextPendingConnection()) {
        ++connections_;
        auto pair = std::make_unique<Pair>();
        Pair* p = pair.get();
        p->client = client;
        p->upstream = new QTcpSocket(this);
        p->up.to = p->upstream;
        p->down.to = client;
        for (Direction* d : {&p->up, &p->down}) {
            d->timer = new QTimer(this);
            d->timer->setSingleShot(true);
            d->timer->setTimerType(Qt::PreciseTimer);
            connect(d->timer, &QTimer::timeout, this, [this, d] { deliver(*d); });
        }
        connect(client, &QTcpSocket::readyRead, this, [this, p] { relay(*p, p->up, true); });
        connect(p->upstream, &QTcpSocket::connected, this, [this, p] { deliver(p->up); });
        connect(p->upstream, &QTcpSocket::readyRead, this,
                [this, p] { relay(*p, p->down, false); });
        connect(client, &QTcpSocket::disconnected, this, [this, p] { drop(p); });
        connect(p->upstream, &QTcpSocket::disconnected, this, [this, p] { drop(p); });
        p->upstream->connectToHost(target_host_, target_port_);
        pairs_.push_back(std::move(pair));
    }
}

void TcpProxy::relay(Pair& pair, Direction& direction, bool from_client) {
    QTcpSocket* from = from_client ? pair.client : pair.upstream;
    QByteArray data = from->readAll();
    if (from_client) {
        client_bytes_ += data;
    } else {
        if (!stripped_line_.isEmpty()) {
            data.replace("\r\n" + stripped_line_ + "\r\n", "\r\n");
        }
        bytes_to_clients_ += data.size();
    }
    if (from_client && refuse_capa_ && data.startsWith("CAPA\r\n")) {
        const QByteArray refusal = "-ERR unknown command\r\n";
        data.remove(0, 6);
        bytes_to_clients_ += refusal.size();
        pair.down.pending.emplace_back(clock_.elapsed() + 2 * delay_ms_, refusal);
        deliver(pair.down);
    }
    if (!data.isEmpty()) {
        direction.pending.emplace_back(clock_.elapsed() + delay_ms_, data);
        deliver(direction);
    }
}

void TcpProxy::deliver(Direction& direction) {
    if (direction.to->state() != QAbstractSocket::ConnectedState) {
        return;
    }
    const qint64 now = clock_.elapsed();
    while (!direction.pending.empty() && direction.pending.front().first <= now) {
        direction.to->write(direction.pending.front().second);
        direction.pending.pop_front();
    }
    direction.to->flush();
    if (!direction.pending.empty()) {
        direction.timer->start(int(direction.pending.front().first - now));
    }
}

void TcpProxy::drop_connections() {
    for (auto& pair : pairs_) {
        pair->client->abort();
        pair->upstream->abort();
    }
}

// Either end went away: the other end is closed too.
void TcpProxy::drop(Pair* pair) {
    for (QTcpSocket* socket : {pair->client, pair->upstream}) {
        if (socket->state() == QAbstractSocket::ConnectedState) {
            socket->disconnectFromHost();
        }
    }
}

}  // namespace ostrel::testing
