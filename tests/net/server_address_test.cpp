#include <QtTest>

#include "net/server_address.h"

class ServerAddressTest : public QObject {
    Q_OBJECT
private slots:
    // What cannot be read as host and port is a host name on the default port.
    void reads_host_and_port_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        const struct {
            const char* server;
            const char* host;
            int port;
        } cases[] = {{"pop.example.org", "pop.example.org", 110},
                     {"127.0.0.1:2110", "127.0.0.1", 2110},
                     {"::1", "::1", 110},
                     {"fe80::1:995", "fe80::1:995", 110},
                     {"[::1]:2110", "::1", 2110},
                     {"[::1]", "::1", 110},
                     {"host:pop", "host:pop", 110},
                     {"host:0", "host:0", 110},
                     {"host:65536", "host:65536", 110},
                     {"host:65535", "host", 65535},
                     {"host:", "host:", 110},
                     {"[::1]x", "[::1]x", 110},
                     {"", "", 110}};
        for (const auto& c : cases) {
            QTest::newRow(c.server) << c.server << c.host << c.port;
        }
    }
    void reads_host_and_port() {
        QFETCH(QString, server);
        QFETCH(QString, host);
        QFETCH(int, port);
        const auto address = ostrel::parse_server_address(server, 110);
        QCOMPARE(address.host, host);
        QCOMPARE(int(address.port), port);
    }
};

QTEST_APPLESS_MAIN(ServerAddressTest)
#include "server_address_test.moc"
