// Checks against the private Dovecot. Users: user01 .. user06.
#include <QTextEdit>
#include <QtTest>

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
        QCOMPARE(proxy.client_bytes(), QByteArray("USER user01\r\nPASS secret\r\nSTAT\r\n"));
        QCOMPARE(check.start.form->windowTitle(), QString("Get Mail"));
        QVERIFY(!check.log().contains("Can"));
    }

    void three_messages_on_the_wire() {
        QCOMPARE(DovecotFixture::fill("user02", messages(3, "c")), QString());
        TcpProxy proxy("127.0.0.1", DovecotFixture::port());
        Check check(account_line(proxy.address(), "user02"));
        check.start.form->executa2();
        QCOMPARE(proxy.client_bytes(), QByteArray("USER user02\r\nPASS secret\r\nSTAT\r\n"
                                                  "TOP 1 0\r\nTOP 2 0\r\nTOP 3 0\r\n"));
        QCOMPARE(proxy.connections(), 1);
        for (int k = 1; k <= 3; ++k) {
            QVERIFY2(check.trace().contains(QString("c%1@example.org - subject c%1").arg(k)),
                     qPrintable(check.trace()));
        }
        QVERIFY(check.start.form->driver().session().is_closed());
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
