// IMAP against the private Dovecot (users user40 .. user44): readings plain, with STARTTLS and
// over TLS match POP3's and change no flag; idling tells of new mail at once.
#include <QSignalSpy>
#include <QSslCertificate>
#include <QtTest>

#include "app/idle_accounts.h"
#include "config/account_fields.h"
#include "notify/nota_form.h"
#include "support/check_fixture.h"
#include "support/dovecot_fixture.h"
#include "support/startup_fixture.h"
#include "support/tcp_proxy.h"

using namespace ostrel;
using testing::DovecotFixture;
using testing::TcpProxy;

namespace {

const QList<QByteArray> kMail = {
    DovecotFixture::message("Ann <ann@example.org>", "plain subject"),
    "From: =?UTF-8?Q?Jos=C3=A9?= <jose@example.es>\nSubject: =?UTF-8?B?UmV1bmnDs24=?=\n"
    " folded\n\nbody\n",
    "From: \xd0\x94\xd0\xbc <d@example.ru>\nX-Subject: no\nSubject: Gr\xc3\xbc\xc3\x9f"
    "e\n\nbody\n"};

QByteArray line(const QString& server, const char* user) {
    return server.toUtf8() + "<>" + user + "<>" + DovecotFixture::password().toUtf8() + "<>\r\n";
}

QByteArray flags(const char* user) {
    return DovecotFixture::doveadm({"fetch", "-u", user, "uid flags", "mailbox", "INBOX", "all"})
        .value_or("doveadm failed");
}

}  // namespace

class ImapDovecotTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!DovecotFixture::available() || DovecotFixture::imap_port() == 0) {
            QSKIP(DovecotFixture::kSkipReason);
        }
    }

    void reads_as_pop3_and_changes_nothing_data() {
        QTest::addColumn<QByteArray>("kind");
        QTest::addColumn<QByteArray>("user");
        QTest::newRow("plain") << QByteArray("IMAP") << QByteArray("user40");
        QTest::newRow("STARTTLS") << QByteArray("IMAP_STARTTLS") << QByteArray("user41");
        QTest::newRow("TLS") << QByteArray("IMAPS") << QByteArray("user42");
    }
    void reads_as_pop3_and_changes_nothing() {
        QFETCH(QByteArray, kind);
        QFETCH(QByteArray, user);
        if (DovecotFixture::imap_port(kind) == 0) {
            QSKIP("the secure Dovecot instance is not set up");
        }
        QCOMPARE(DovecotFixture::fill(user, kMail), QString());
        TcpProxy relay("127.0.0.1", DovecotFixture::imap_port(kind));
        const QString scheme = kind == "IMAPS" ? "imaps" : "imap";
        const QString server = scheme + "://" + relay.address();
        const auto ca =
            QSslCertificate::fromPath(qEnvironmentVariable("OSTREL_TEST_CERTS") + "/ca.pem");
        testing::CheckFixture check(5000, {0, ca});
        check.write_accounts(line(DovecotFixture::address(), user) + line(server, user));
        // Both accounts leave the same trace: each half of it.
        const auto messages = [&check] {
            const QString trace = check.trace();
            return trace.left(trace.size() / 2) == trace.mid(trace.size() / 2)
                       ? trace.count("\n ") / 2
                       : -1;
        };
        const auto run = [&] {  // what this check sent
            const qsizetype sent = relay.client_bytes().size();
            check.run();
            return relay.client_bytes().mid(sent);
        };
        QVERIFY(run().contains("UID FETCH 1:* (UID BODY.PEEK[HEADER.FIELDS") || kind != "IMAP");
        QVERIFY2(messages() == 3, qPrintable(check.trace() + check.log_text()));
        const QString stem = scheme + "@" + relay.address();
        QCOMPARE(check.seen(stem), check.seen(DovecotFixture::address()));
        QVERIFY(check.idle());
        const QByteArray flagged = flags(user);
        QVERIFY2(flagged.count("uid: ") == 3 && !flagged.contains("Seen"), flagged);
        if (kind == "IMAP_STARTTLS") {
            QVERIFY(relay.client_bytes().startsWith("a1 STARTTLS\r\n") &&
                    !relay.client_bytes().contains("LOGIN"));
            QCOMPARE(check.folder.read(stem + ".tls"),
                     "Ostrel server security 1\r\n" + stem.toUtf8() + "\r\nSTLS\r\nverified\r\n");
        }
        if (kind != "IMAP") {
            return;
        }
        // Only new UIDs are asked for (Dovecot answers "4:*" with the last one when none is above).
        for (const QByteArray subject : {"second", "third"}) {
            QCOMPARE(DovecotFixture::deliver(user, {DovecotFixture::message("b@x.org", subject)}),
                     QString());
            const QByteArray wire = run();
            QVERIFY2(wire.contains("UID SEARCH ALL\r\n") && !wire.contains("1:*"), wire);
            QVERIFY(check.trace().endsWith(" - b@x.org - " + subject));
            QCOMPARE(messages(), subject == QByteArray("second") ? 4 : 5);
        }
        // A rebuilt mailbox (a UIDVALIDITY Dovecot never gives) is read whole once; a damaged
        // cache likewise.
        const QString validity = QString::number(QDateTime::currentSecsSinceEpoch() + 86400);
        QVERIFY(DovecotFixture::doveadm(
            {"mailbox", "update", "-u", user, "--uid-validity", validity, "INBOX"}));
        for (int turn = 0; turn < 3; ++turn) {
            if (turn == 2) {
                check.folder.write(stem + ".hdr", "damaged\r\n");
            }
            QCOMPARE(run().contains("UID FETCH 1:*"), turn != 1);
            QCOMPARE(messages(), 5);
        }
        QVERIFY(check.folder.read(stem + ".hdr").contains("\r\nuidvalidity " + validity.toUtf8()));
        QCOMPARE(check.log_text().count("was set aside"), 1);
        QCOMPARE(check.notes.nota_count(), 6);  // both accounts: the first check and each new one
        QVERIFY(!flags(user).contains("Seen"));
    }

    // The program itself: its idle connection tells of new mail at once.
    void idle_announces_new_mail() {
        QCOMPARE(DovecotFixture::fill("user43", {kMail[0]}), QString());
        TcpProxy relay("127.0.0.1", DovecotFixture::imap_port());
        Timings timings;
        timings.check_tick_ms = 3600000;
        timings.blink_ms = 1;
        timings.idle = {4000, 60000, 100, 1000};
        testing::StartupFixture start(timings);
        const QString server = "imap://" + relay.address();
        start.folder.write("lumetta_pop.cfg", line(server, "user43"));
        QVERIFY(start.load());
        Form1& form = start.window();
        auto* idle = form.findChild<IdleAccounts*>();
        const auto watcher = [idle] {
            return idle->watchers().empty() ? nullptr : idle->watchers().front().get();
        };
        QTRY_VERIFY_WITH_TIMEOUT(watcher() && watcher()->idling(), 5000);
        QSignalSpy titles(&form, &QWidget::windowTitleChanged);
        const QString seen_state = "imap@" + relay.address() + ".svr";
        const auto deliver = [&](const QByteArray& subject) {
            QVERIFY(DovecotFixture::doveadm({"save", "-u", "user43", "-m", "INBOX"},
                                            DovecotFixture::message("n@x.org", subject)));
        };
        const auto popup_for = [&](const QByteArray& subject) {
            return start.folder.read(seen_state).contains(subject) &&
                   form.findChildren<NotaForm*>().size() > 0;
        };
        deliver("while idling");
        QTRY_VERIFY_WITH_TIMEOUT(popup_for("while idling"), 3000);
        QVERIFY(titles.contains(QVariantList{"Loading Pop3"}) && form.Timer1->isActive());
        relay.drop_connections();
        QTRY_VERIFY_WITH_TIMEOUT(start.log_text().contains("the idle connection dropped"), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(watcher()->idling(), 5000);
        deliver("after the drop");
        QTRY_VERIFY_WITH_TIMEOUT(popup_for("after the drop"), 3000);

        // Mail that comes while the machine sleeps is told when it wakes.
        idle->preparing_for_sleep(true);
        QVERIFY(!watcher()->idling());
        deliver("while asleep");
        QTest::qWait(1000);
        QVERIFY(!start.folder.read(seen_state).contains("while asleep"));
        idle->preparing_for_sleep(false);
        QTRY_VERIFY_WITH_TIMEOUT(popup_for("while asleep"), 5000);
        const QString log = start.log_text();
        QVERIFY2(log.count("the idle connection dropped") == 1 && !log.contains("Can\u00b4t"),
                 qPrintable(log));

        // The accounts editor's Save (an atomic rewrite) makes the watchers anew.
        QVERIFY(replace_account(start.files.accounts(), account_key(server, "user43"),
                                {server, "user44", "secret", ""})
                    .isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(watcher()->account().login == "user44" && watcher()->idling(),
                                 5000);
    }
};

QTEST_MAIN(ImapDovecotTest)
#include "imap_dovecot_test.moc"
