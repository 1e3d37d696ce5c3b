#include <QtTest>

#include "net/server_address.h"

class ServerAddressTest : public QObject {
    Q_OBJECT
private slots:
    // What cannot be read as host and port is a host name on the default port.
    void reads_host_and_port() {
        const QList<std::tuple<const char*, const char*, int>> cases = {
            {"pop.example.org", "pop.example.org", 110},
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
        for (const auto& [server, host, port] : cases) {
            const auto address = ostrel::parse_server_address(server, 110);
            QVERIFY2(address.host == host && int(address.port) == port, server);
        }
    }
};

QTEST_APPLESS_MAIN(ServerAddressTest)
#include "server_address_test.moc"
