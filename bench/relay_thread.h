#pragma once

#include <QObject>
#include <QString>
#include <QThread>

#include "support/tcp_proxy.h"

namespace ostrel::testing {

// A delaying relay (TcpProxy) in front of 127.0.0.1:`port`, on its own
// thread, so that its work does not count as the program's.
class RelayThread {
public:
    RelayThread(quint16 port, int one_way_delay_ms, bool refuse_capa = false) {
        context_.moveToThread(&thread_);
        thread_.start();
        on_relay([this, port, one_way_delay_ms, refuse_capa] {
            proxy_ = new TcpProxy("127.0.0.1", port, one_way_delay_ms);
            if (refuse_capa) {
                proxy_->refuse_capa();
            }
        });
    }
    ~RelayThread() {
        on_relay([this] { delete proxy_; });
        thread_.quit();
        thread_.wait();
    }
    QString address() const { return proxy_->address(); }
    quint16 port() const { return proxy_->port(); }

    // What went through the relay so far: bytes to the client, and how often
    // clients sent `command`.
    struct Traffic {
        qint64 bytes = 0;
        qsizetype commands = 0;
    };
    Traffic traffic(const QByteArray& command = "TOP ") {
        Traffic now;
        on_relay([&] {
            now = {proxy_->bytes_to_clients(), proxy_->client_bytes().count(command)};
        });
        return now;
    }

private:
    template <typename Work>
    void on_relay(Work work) {
        QMetaObject::invokeMethod(&context_, work, Qt::BlockingQueuedConnection);
    }

    QThread thread_;
    QObject context_;
    TcpProxy* proxy_ = nullptr;
};

}  // namespace ostrel::testing
