#include <QtTest>

#include "pop3/server_address.h"

using ostrel::parse_server_address;

class ServerAddressTest : public QObject {
    Q_OBJECT
private slots:
    void reads_host_and_port_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("plain host") << "pop.example.org"
                                    << "pop.example.org" << 110;
        QTest::newRow("host and port") << "127.0.0.1:2110"
                                       << "127.0.0.1" << 2110;
        QTest::newRow("bare ipv6") << "::1"
                                   << "::1" << 110;
        QTest::newRow("bare ipv6 ending in digits") << "fe80::1:995"
                                                    << "fe80::1:995" << 110;
        QTest::newRow("bracketed with port") << "[::1]:2110"
                                             << "::1" << 2110;
        QTest::newRow("bracketed without port") << "[::1]"
                                                << "::1" << 110;
        QTest::newRow("port not digits") << "host:pop"
                                         << "host:pop" << 110;
        QTest::newRow("port zero") << "host:0"
                                   << "host:0" << 110;
        QTest::newRow("port too big") << "host:65536"
                                      << "host:65536" << 110;
        QTest::newRow("highest port") << "host:65535"
                                      << "host" << 65535;
        QTest::newRow("empty port") << "host:"
                                    << "host:" << 110;
        QTest::newRow("bracket junk") << "[::1]x"
                                      << "[::1]x" << 110;
        QTest::newRow("empty") << ""
                               << "" << 110;
    }
    void reads_host_and_port() {
        QFETCH(QString, server);
        QFETCH(QString, host);
        QFETCH(int, port);
        const auto address = parse_server_address(server);
        QCOMPARE(address.host, host);
        QCOMPARE(int(address.port), port);
    }
};

QTEST_APPLESS_MAIN(ServerAddressTest)
#include "server_address_test.moc"
