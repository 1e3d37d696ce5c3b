// POP3 over implicit TLS and STLS: a verified certificate checks mail end to
// end; a refused certificate or a failed handshake is a failed connection,
// logged with its reason, and no login ever reaches the server unless the user
// trusts the certificate. A server that offered STLS is never sent a login in
// clear. Dovecot users: user21, user22, user24 .. user26.
#include <QFile>
#include <QSslCertificate>
#include <QTcpServer>
#include <QTextEdit>
#include <QtTest>

#include "pop3/header_cache.h"
#include "support/check_fixture.h"
#include "support/dovecot_fixture.h"
#include "support/scripted_pop3_server.h"
#include "support/tcp_proxy.h"
#include "support/tls_pop3_server.h"

using namespace ostrel;
using testing::DovecotFixture;
using testing::ScriptedPop3Server;
using testing::ScriptedReply;
using testing::TcpProxy;

Q_DECLARE_METATYPE(ScriptedReply)

namespace {

QString certificates_folder() {
    return qEnvironmentVariable("OSTREL_TEST_CERTS");
}
QString certificate_file(const QString& name) {
    return certificates_folder() + QLatin1Char('/') + name;
}
quint16 dovecot_tls_port(const char* kind = "TLS") {
    return quint16(qEnvironmentVariableIntValue(QByteArray("OSTREL_DOVECOT_") + kind + "_PORT"));
}
quint16 dovecot_stls_port() {
    return dovecot_tls_port("STLS");
}

// Fills the Dovecot mailbox of `user` with one message.
void fill(const QString& user, const QByteArray& from, const QByteArray& subject) {
    QCOMPARE(DovecotFixture::fill(user, {DovecotFixture::message(from, subject)}), QString());
}

QString fingerprint_of(const QString& certificate) {
    return QString::fromLatin1(QSslCertificate::fromPath(certificate_file(certificate + ".pem"))
                                   .value(0)
                                   .digest(QCryptographicHash::Sha256)
                                   .toHex(':')
                                   .toUpper());
}

// Long enough for a handshake on a loaded machine; the silent server waits
// it out once.
constexpr int kTimeoutMs = 5000;

// A check of one account on 127.0.0.1:`port`, whose connection treats
// `tls_port` as the implicit-TLS port and, unless told otherwise, trusts
// the test authority.
struct TlsCheck : testing::CheckFixture {
    TlsCheck(quint16 port, quint16 tls_port, const QString& login = "user21",
             bool trust_test_authority = true)
        : CheckFixture(kTimeoutMs, {tls_port, trust_test_authority ? QSslCertificate::fromPath(
                                                                         certificate_file("ca.pem"))
                                                                   : QList<QSslCertificate>()}),
          server(QStringLiteral("127.0.0.1:%1").arg(port)) {
        write_accounts(server.toUtf8() + "<>" + login.toUtf8() + "<>" +
                       DovecotFixture::password().toUtf8() + "<>\r\n");
    }
    QString log() const { return log_text(); }
    QByteArray trust_file() const { return folder.read(server + ".tls"); }
    QString failed() const { return "Secure connection to " + server + " failed: "; }
    QString cannot_connect() const { return "Can\u00B4t connect to Pop3 " + server; }

    QString server;
};

}  // namespace

class TlsCheckTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (certificates_folder().isEmpty() || !DovecotFixture::available() ||
            dovecot_tls_port() == 0 || dovecot_stls_port() == 0) {
            QSKIP(
                "OSTREL_TEST_CERTS / OSTREL_DOVECOT_TLS_PORT / OSTREL_DOVECOT_STLS_PORT are not "
                "set: scripts/test sets them up");
        }
    }

    // A verified certificate checks mail end to end, and the one socket goes
    // from TLS back to plain for the next account. The second check takes the
    // header blocks from the cache; a server without STLS is mentioned once per run.
    void verified_certificate_then_plain_account() {
        QCOMPARE(DovecotFixture::fill("user21",
                                      {DovecotFixture::message("Ann <ann@example.org>", "over tls"),
                                       DovecotFixture::message("bob@example.org", "second")}),
                 QString());
        fill("user24", "plain@example.org", "plain");
        TlsCheck check(dovecot_tls_port(), dovecot_tls_port());
        check.folder.write("lumetta_pop.cfg", check.folder.read("lumetta_pop.cfg") +
                                                  DovecotFixture::address().toUtf8() +
                                                  "<>user24<>" +
                                                  DovecotFixture::password().toUtf8() + "<>\r\n");
        check.run();
        const QString trace = check.trace();
        QVERIFY2(trace.contains(" 1 - Ann <ann@example.org> - over tls"),
                 qPrintable(trace + check.log()));
        QVERIFY(trace.contains(" 2 - bob@example.org - second"));
        QVERIFY(trace.contains(" 1 - plain@example.org - plain"));
        QVERIFY2(!check.log().contains("Can\u00B4t connect"), qPrintable(check.log()));
        QVERIFY(!check.log().contains("Secure connection"));
        const QString cache = header_cache_file_name({check.server, "user21"});
        check.folder.write(
            cache, check.folder.read(cache).replace("\tsecond\r\n", "\tfrom the cache\r\n"));
        check.run();
        QVERIFY2(check.trace().contains(" 2 - bob@example.org - from the cache"),
                 qPrintable(check.log()));
        QCOMPARE(check.log().count(DovecotFixture::address() +
                                   ": the server does not offer STLS, so the password travels "
                                   "unencrypted"),
                 1);
        QVERIFY(!check.log().contains(check.server + ": the server does not offer"));
    }

    // Dovecot's STLS listener through a relay that sees what travels in clear.
    void stls_upgrades_and_refuses_downgrades() {
        fill("user25", "s@example.org", "stls");
        TcpProxy relay("127.0.0.1", dovecot_stls_port());
        TlsCheck check(relay.port(), 995, "user25");
        check.run();
        QVERIFY2(check.trace().contains(" 1 - s@example.org - stls"), qPrintable(check.log()));
        QVERIFY(relay.client_bytes().startsWith("CAPA\r\nSTLS\r\n"));
        QVERIFY(!relay.client_bytes().contains("USER"));
        QCOMPARE(check.trust_file(),
                 "Ostrel server security 1\r\n" + check.server.toUtf8() + "\r\nSTLS\r\n");
        QVERIFY(!check.log().contains("unencrypted"));
        // Someone in between strips STLS from CAPA, or refuses CAPA, or the
        // mark is damaged: the check stops before USER.
        const QString downgrade = check.failed() + "it offered STLS before and does not now";
        const QString damaged = check.server + ": the security file ";
        for (int attack = 0; attack < 3; ++attack) {
            relay.strip_reply_line(attack == 0 ? "STLS" : "");
            relay.refuse_capa(attack == 1);
            if (attack == 2) {
                check.folder.write(check.server + ".tls", "STLS\r\n");
            }
            const qsizetype sent = relay.client_bytes().size();
            check.run();
            QCOMPARE(relay.client_bytes().mid(sent), QByteArray("CAPA\r\n"));
            QCOMPARE(check.log().count(downgrade), std::min(attack + 1, 2));
            QCOMPARE(check.log().count(damaged), attack / 2);
            QCOMPARE(check.log().count(check.cannot_connect()), attack + 1);
        }
    }

    // A server that offers STLS and then fails it gets nothing more, in clear least of all.
    void failed_stls_sends_nothing_more_data() {
        QTest::addColumn<ScriptedReply>("answer");
        QTest::addColumn<QString>("reason");
        QTest::newRow("refused") << ScriptedReply::text("-ERR not now\r\n")
                                 << "the server refused STLS (-ERR not now)";
        QTest::newRow("closed") << ScriptedReply::close("+OK begin TLS\r\n")
                                << "";  // the close or the failed handshake, as timing has it
    }
    void failed_stls_sends_nothing_more() {
        QFETCH(ScriptedReply, answer);
        QFETCH(QString, reason);
        ScriptedPop3Server server;
        server.transcript = {"S: +OK ready", "C: CAPA", "S: +OK\r\nSTLS\r\n.", "C: STLS", answer};
        TlsCheck check(server.port(), 995);
        check.run();
        QCOMPARE(server.commands, QByteArrayList({"CAPA", "STLS"}));
        const QString log = check.log();
        QVERIFY2(log.contains(check.failed() + reason), qPrintable(log));
        QVERIFY(log.contains(check.cannot_connect()));
    }

    // Dovecot's certificate from an authority the client does not know: a
    // no fails the account, a yes pins the certificate, which is then taken
    // without asking.
    void untrusted_certificate_is_asked_about() {
        fill("user26", "p@example.org", "pin");
        TcpProxy relay("127.0.0.1", dovecot_stls_port());
        TlsCheck check(relay.port(), 995, "user26", false);
        check.run();
        QCOMPARE(check.prompts.size(), 1);
        const QString box = check.prompts[0];
        QVERIFY2(box.startsWith("The mail server " + check.server + " sent a certificate"),
                 qPrintable(box));
        QVERIFY(box.contains("\nSHA-256 fingerprint:\n" + fingerprint_of("good") + "\n"));
        QVERIFY2(check.log().contains(check.failed() +
                                      "the server's certificate comes from an untrusted issuer"),
                 qPrintable(check.log()));
        QVERIFY(!relay.client_bytes().contains("USER"));
        QVERIFY(!check.trust_file().contains("pin"));
        check.answer = PromptAnswer::Yes;
        check.run();
        QVERIFY2(check.trace().contains(" 1 - p@example.org - pin"), qPrintable(check.log()));
        QVERIFY(check.trust_file().endsWith("\r\nSTLS\r\npin " + fingerprint_of("good").toUtf8() +
                                            "\r\n"));
        check.answer = PromptAnswer::No;
        check.run();
        QCOMPARE(check.prompts.size(), 2);
        QVERIFY2(check.trace().contains(" 1 - p@example.org - pin"), qPrintable(check.log()));
        QVERIFY(!relay.client_bytes().contains("USER"));
    }

    // A server whose certificate is no longer the pinned one is asked about again.
    void changed_certificate_is_asked_about_again() {
        TlsPop3Server server(certificate_file("selfsigned.pem"),
                             certificate_file("selfsigned.key"));
        QVERIFY(server.listen_on_loopback());
        TlsCheck check(server.serverPort(), server.serverPort());
        check.answer = PromptAnswer::Yes;
        check.run();
        QVERIFY2(server.received().contains("STAT"), qPrintable(check.log()));
        server.use_certificate(certificate_file("unknown.pem"), certificate_file("unknown.key"));
        check.answer = PromptAnswer::No;
        const qsizetype received = server.received().size();
        check.run();
        QCOMPARE(check.prompts.size(), 2);
        QVERIFY(check.prompts[1].contains("not the certificate you trusted before"));
        QVERIFY(check.prompts[1].contains(fingerprint_of("unknown")));
        QCOMPARE(server.received().size(), received);
        QVERIFY(check.log().contains(check.failed()));
    }

    void refused_certificates_data() {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QString>("reason");
        QTest::newRow("another host")
            << QString("wronghost") << QString("is for another host name");
        QTest::newRow("expired") << QString("expired") << QString("has expired");
        QTest::newRow("unknown authority")
            << QString("unknown") << QString("comes from an untrusted issuer");
    }
    void refused_certificates() {
        QFETCH(QString, certificate);
        QFETCH(QString, reason);
        TlsPop3Server server(certificate_file(certificate + ".pem"),
                             certificate_file(certificate + ".key"));
        QVERIFY(server.loaded());
        QVERIFY(server.listen_on_loopback());
        TlsCheck check(server.serverPort(), server.serverPort());
        check.run();
        const QString log = check.log();
        const qsizetype refusal = log.indexOf(check.failed());
        const qsizetype exit = log.indexOf(check.cannot_connect());
        QVERIFY2(refusal >= 0 && exit > refusal, qPrintable(log));
        QVERIFY2(log.mid(refusal).section('\n', 0, 0).contains(reason), qPrintable(log));
        QCOMPARE(server.handshakes_started(), 1);
        QVERIFY(server.received().isEmpty());
        QVERIFY(check.idle());
    }

    // Dovecot's plain greeting is no TLS handshake; its TLS port never greets
    // a plain client; a TLS port where nothing listens refuses the connection,
    // which is no handshake failure. All end as a failed connection.
    void mismatched_ends_fail_data() {
        QTest::addColumn<bool>("tls_client");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("handshake_failed");
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost);
        QTest::newRow("tls client, plain port") << true << int(DovecotFixture::port()) << true;
        QTest::newRow("plain client, tls port") << false << int(dovecot_tls_port()) << false;
        QTest::newRow("tls client, refused") << true << int(closed.serverPort()) << false;
    }
    void mismatched_ends_fail() {
        QFETCH(bool, tls_client);
        QFETCH(int, port);
        QFETCH(bool, handshake_failed);
        TlsCheck check(port, tls_client ? port : quint16(995), "user22");
        check.run();
        const QString log = check.log();
        QVERIFY2(log.contains(check.cannot_connect()), qPrintable(log));
        QCOMPARE(log.contains(check.failed()), handshake_failed);
        QVERIFY(check.idle());
    }

    void stalled_handshake_times_out() {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        TlsCheck check(silent.serverPort(), silent.serverPort());
        check.run();
        const QString log = check.log();
        QVERIFY2(
            log.contains(check.failed() + "the server did not complete the TLS handshake in time"),
            qPrintable(log));
        QVERIFY(log.contains(check.cannot_connect()));
        QVERIFY(check.idle());
    }
};

QTEST_MAIN(TlsCheckTest)
#include "tls_check_dovecot_test.moc"
