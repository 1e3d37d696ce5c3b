// Checks against the private Dovecot. Users: user01 .. user06.
#include <QTextEdit>
#include <QtTest>

#include "core/date_time_text.h"
#include "pop3/check_driver.h"
#include "pop3/pop3_session.h"
#include "support/dovecot_fixture.h"
#include "support/startup_fixture.h"
#include "support/tcp_proxy.h"

using namespace ostrel;
using testing::DovecotFixture;
using testing::StartupFixture;
using testing::TcpProxy;

namespace {

QList<QByteArray> messages(int count, const QByteArray& tag) {
    return DovecotFixture::numbered_messages(count, tag, "subject " + tag);
}

QByteArray account_line(const QString& server, const QByteArray& user,
                        const QByteArray& password = {}, const QByteArray& search = {}) {
    return server.toUtf8() + "<>" + user + "<>" +
           (password.isEmpty() ? DovecotFixture::password().toUtf8() : password) + "<>" + search +
           "\r\n";
}

struct Check {
    explicit Check(const QByteArray& accounts) {
        start.load();
        start.folder.write("lumetta_pop.cfg", accounts);
    }
    QString trace() const { return start.form->Text1->toPlainText(); }
    QString log() const { return QString::fromUtf8(start.folder.read("logfile.txt")); }
    StartupFixture start;
};

}  // namespace

class CheckDovecotTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        if (!DovecotFixture::available()) {
            QSKIP(DovecotFixture::kSkipReason);
        }
    }

    void empty_mailbox() {
        QCOMPARE(DovecotFixture::fill("user01", {}), QString());
        TcpProxy proxy("127.0.0.1", DovecotFixture::port());
        Check check(account_line(proxy.address(), "user01"));
        check.start.form->executa2();
        QCOMPARE(proxy.client_bytes(),
                 QByteArray("CAPA\r\nUSER user01\r\nPASS secret\r\nSTAT\r\n"));
        QCOMPARE(check.start.form->windowTitle(), QString("Get Mail"));
        QVERIFY(!check.log().contains("Can"));
    }

    // Dovecot offers UIDL and PIPELINING: the first check asks for every
    // header block, the next ones only for those of new messages. A server
    // without CAPA, read one command at a time, leaves the same seen state.
    void header_blocks_are_asked_for_once() {
        QCOMPARE(DovecotFixture::fill("user02", messages(3, "c")), QString());
        TcpProxy proxy("127.0.0.1", DovecotFixture::port());
        Check check(account_line(proxy.address(), "user02"));
        const QByteArray login = "CAPA\r\nUSER user02\r\nPASS secret\r\nSTAT\r\nUIDL\r\n";
        const QList<QByteArray> wire = {login + "TOP 1 0\r\nTOP 2 0\r\nTOP 3 0\r\n", login,
                                        login + "TOP 4 0\r\n"};
        for (const QByteArray& expected : wire) {
            if (&expected == &wire.last()) {
                QCOMPARE(DovecotFixture::deliver("user02", messages(1, "d")), QString());
            }
            const qsizetype before = proxy.client_bytes().size();
            check.start.form->executa2();
            QCOMPARE(proxy.client_bytes().mid(before), expected);
            QVERIFY2(check.trace().contains("c3@example.org - subject c3"),
                     qPrintable(check.log()));
        }
        QVERIFY(check.trace().contains(" 4 - d1@example.org - subject d1"));
        QCOMPARE(proxy.connections(), 3);
        QVERIFY(check.start.form->driver().session().is_closed());

        TcpProxy old_server("127.0.0.1", DovecotFixture::port());
        old_server.refuse_capa();
        Check sequential(account_line(old_server.address(), "user02"));
        sequential.start.form->executa2();
        QCOMPARE(old_server.client_bytes(),
                 "CAPA\r\nUSER user02\r\nPASS secret\r\nSTAT\r\nTOP 1 0\r\n"
                 "TOP 2 0\r\nTOP 3 0\r\nTOP 4 0\r\n");
        QCOMPARE(sequential.trace(), check.trace());
        const auto without_dates = [](const QByteArray& seen) {
            QByteArrayList lines = seen.split('\n');
            for (QByteArray& line : lines) {
                line = line.mid(date_time_text().size() + 1);
            }
            return lines;
        };
        QCOMPARE(without_dates(sequential.start.folder.read(old_server.address() + ".svr")),
                 without_dates(check.start.folder.read(proxy.address() + ".svr")));
    }

    void wrong_password() {
        QCOMPARE(DovecotFixture::fill("user03", messages(1, "w")), QString());
        TcpProxy proxy("127.0.0.1", DovecotFixture::port());
        Check check(account_line(proxy.address(), "user03", "wrong"));
        check.start.form->executa2();
        QCOMPARE(check.start.prompts, QStringList{"Error with password"});
        QVERIFY(!proxy.client_bytes().contains("STAT"));
        QVERIFY(check.start.form->Timer1->isActive());
        QVERIFY(!check.start.form->Timer2->isActive());
    }

    void two_accounts() {
        QCOMPARE(DovecotFixture::fill("user04", messages(2, "a")), QString());
        QCOMPARE(DovecotFixture::fill("user05", messages(1, "b")), QString());
        TcpProxy proxy("127.0.0.1", DovecotFixture::port());
        Check check(account_line(proxy.address(), "user04") +
                    account_line(DovecotFixture::address(), "user05", {}, "b1"));
        check.start.form->executa2();
        QCOMPARE(proxy.connections(), 1);
        QVERIFY(check.trace().contains("a2@example.org - subject a2"));
        QVERIFY(check.trace().contains("b1@example.org - subject b1"));
        QCOMPARE(check.start.form->state().server, DovecotFixture::address());
        QCOMPARE(check.start.form->state().search_words, QString("b1"));
    }

    void four_hundred_messages_read_and_evaluated() {
        QCOMPARE(DovecotFixture::fill("user06", messages(400, "m")), QString());
        Check check(account_line(DovecotFixture::address(), "user06"));
        check.start.form->executa2();
        QCOMPARE(check.trace().count(" - subject m"), 400);
        for (int k : {1, 300, 301, 400}) {
            QVERIFY(check.trace().contains(QString("m%1@example.org - subject m%1").arg(k)));
        }
        QVERIFY(!check.log().contains("Fatal"));
    }
};

QTEST_MAIN(CheckDovecotTest)
#include "check_dovecot_test.moc"
