// Checks against the private Dovecot through the recording relay. User: user02.
#include <QTextEdit>
#include <QtTest>

#include "support/check_fixture.h"
#include "support/dovecot_fixture.h"
#include "support/tcp_proxy.h"

using namespace ostrel;
using testing::DovecotFixture;
using testing::TcpProxy;

namespace {

struct Check : testing::CheckFixture {
    explicit Check(const TcpProxy& proxy) : CheckFixture(kReplyTimeoutMs) {
        write_accounts(proxy.address().toUtf8() + "<>user02<>" +
                       DovecotFixture::password().toUtf8() + "<>\r\n");
    }
};

}  // namespace

class CheckDovecotTest : public QObject {
    Q_OBJECT
private slots:
    // Dovecot offers UIDL and PIPELINING: USER alone, then PASS and the
    // listing in one write, so an unchanged mailbox costs four round trips.
    // The first check of 300 messages asks for every header block in a
    // window closed by one TOP past the last message, the next ones only for
    // those of new messages (message 301 is past any table of fixed size). A
    // server without CAPA, read one command at a time, leaves the same trace
    // and seen state.
    void header_blocks_are_asked_for_once() {
        if (!DovecotFixture::available()) {
            QSKIP(DovecotFixture::kSkipReason);
        }
        QCOMPARE(DovecotFixture::fill("user02", {}), QString());
        TcpProxy proxy("127.0.0.1", DovecotFixture::port());
        Check check(proxy);
        const QByteArray login = "CAPA\r\nUSER user02\r\nPASS secret\r\nSTAT\r\n";
        const QByteArray listing = login + "UIDL\r\nLIST\r\n";
        QByteArray every_top;
        for (int k = 1; k <= 300; ++k) {
            every_top += "TOP " + QByteArray::number(k) + " 0\r\n";
        }
        const QList<QByteArray> wire = {listing, listing + every_top + "TOP 301 0\r\n", listing,
                                        listing + "TOP 301 0\r\nTOP 302 0\r\n"};
        const QList<QList<QByteArray>> delivered = {
            {},
            DovecotFixture::numbered_messages(300, "m", "subject m"),
            {},
            DovecotFixture::numbered_messages(1, "n", "subject n")};
        for (int turn = 0; turn < wire.size(); ++turn) {
            QCOMPARE(DovecotFixture::deliver("user02", delivered[turn]), QString());
            const qsizetype before = proxy.client_bytes().size();
            check.run();
            QCOMPARE(proxy.client_bytes().mid(before), wire[turn]);
            QCOMPARE(check.trace().count(" - subject m"), turn == 0 ? 0 : 300);
        }
        QVERIFY(check.trace().contains(" 300 - m300@example.org - subject m300"));
        QVERIFY(check.trace().contains(" 301 - n1@example.org - subject n1"));
        QCOMPARE(proxy.connections(), 4);
        QVERIFY(check.idle());

        TcpProxy old_server("127.0.0.1", DovecotFixture::port());
        old_server.refuse_capa();
        Check sequential(old_server);
        sequential.run();
        QCOMPARE(old_server.client_bytes(), login + every_top + "TOP 301 0\r\n");
        QCOMPARE(sequential.trace(), check.trace());
        QCOMPARE(sequential.seen(old_server.address()), check.seen(proxy.address()));
    }
};

QTEST_MAIN(CheckDovecotTest)
#include "check_dovecot_test.moc"
