// POP3 over implicit TLS and STLS: a refused certificate or handshake fails
// the connection with its reason logged and no login sent unless the user
// trusts the certificate; a server that offered STLS never gets a login in
// clear. Dovecot users: user21, user22, user24 .. user26.
#include <sys/stat.h>
#include <QSslCertificate>
#include <QTcpServer>
#include <QtTest>

#include "pop3/header_cache.h"
#include "support/check_fixture.h"
#include "support/dovecot_fixture.h"
#include "support/rows.h"
#include "support/scripted_pop3_server.h"
#include "support/tcp_proxy.h"

using namespace ostrel;
using testing::certificate_file;
using testing::DovecotFixture;
using testing::Said;
using testing::ScriptedPop3Server;
using testing::ScriptedReply;
using testing::TcpProxy;
using testing::Transcript;

Q_DECLARE_METATYPE(ScriptedReply)

namespace {

quint16 dovecot_tls_port(const char* kind = "TLS") {
    return quint16(qEnvironmentVariableIntValue(QByteArray("OSTREL_DOVECOT_") + kind + "_PORT"));
}

void fill(const QString& user, const QByteArray& from, const QByteArray& subject) {
    QCOMPARE(DovecotFixture::fill(user, {DovecotFixture::message(from, subject)}), QString());
}

QString fingerprint_of(const QString& certificate) {
    const auto pem = QSslCertificate::fromPath(certificate_file(certificate + ".pem")).value(0);
    return QString::fromLatin1(pem.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
}

// Long enough for a handshake on a loaded machine; stalling scripted servers
// are waited for the shorter time.
constexpr int kTimeoutMs = 5000;
constexpr int kStallMs = 2000;

// A check of one account on 127.0.0.1:`port`, with `tls_port` as the
// implicit-TLS port, trusting the test authority unless told otherwise.
struct TlsCheck : testing::CheckFixture {
    TlsCheck(quint16 port, quint16 tls_port, const QString& login = "user21",
             bool trust_test_authority = true, int timeout_ms = kTimeoutMs)
        : CheckFixture(timeout_ms, {tls_port, trust_test_authority ? QSslCertificate::fromPath(
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
    QByteArray trust_heading() const {
        return "Ostrel server security 1\r\n" + server.toUtf8() + "\r\n";
    }

    QString server;
};

// A scripted server's transcript over `checks` checks, whether its security
// file holds the STLS mark first, and a line the log holds `times`.
struct StlsRow {
    Transcript dialogue;
    int checks;
    bool marked;
    QString logged;
    int times;
};

// `end`: a TLS server with `certificate` (c), Dovecot's plain (p) or TLS (t)
// port, a refused port (r) or a silent server (s); `failure` what the
// handshake's line says, nullptr where no handshake failed.
struct FailedRow {
    const char* name;
    char end;
    const char* certificate;
    bool tls_client;
    const char* failure;
};
const FailedRow kFailed[] = {
    {"another host", 'c', "wronghost", true, "is for another host name"},
    {"expired", 'c', "expired", true, "has expired"},
    {"unknown authority", 'c', "unknown", true, "comes from an untrusted issuer"},
    {"tls client, plain port", 'p', "", true, ""},
    {"plain client, tls port", 't', "", false, nullptr},
    {"tls client, refused", 'r', "", true, nullptr},
    {"tls client, silent server", 's', "", true,
     "the server did not complete the TLS handshake in time"},
};

}  // namespace

Q_DECLARE_METATYPE(StlsRow)
Q_DECLARE_METATYPE(FailedRow)

class TlsCheckTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("OSTREL_TEST_CERTS") || !DovecotFixture::available() ||
            dovecot_tls_port() == 0 || dovecot_tls_port("STLS") == 0) {
            QSKIP("OSTREL_TEST_CERTS / OSTREL_DOVECOT_*_PORT are not set: scripts/test does it");
        }
    }

    // A verified certificate checks mail, then a plain account; the second
    // check reads the header cache; no-STLS is logged once per run. Files a
    // check writes become owner-only whatever the umask, also when rewritten.
    void verified_certificate_then_plain_account() {
        const mode_t umask_before = ::umask(022);
        QCOMPARE(DovecotFixture::fill("user21",
                                      {DovecotFixture::message("Ann <ann@example.org>", "over tls"),
                                       DovecotFixture::message("bob@example.org", "second")}),
                 QString());
        fill("user24", "plain@example.org", "plain");
        TlsCheck check(dovecot_tls_port(), dovecot_tls_port());
        const QString plain = DovecotFixture::address() + "<>user24<>" + DovecotFixture::password();
        check.folder.write("lumetta_pop.cfg",
                           check.folder.read("lumetta_pop.cfg") + plain.toUtf8() + "<>\r\n");
        check.run();
        const QString trace = check.trace();
        QVERIFY2(trace.contains(" 1 - Ann <ann@example.org> - over tls") &&
                     trace.contains(" 2 - bob@example.org - second") &&
                     trace.contains(" 1 - plain@example.org - plain") &&
                     !check.log().contains("Can\u00B4t connect") &&
                     !check.log().contains("Secure connection"),
                 qPrintable(trace + check.log()));
        QCOMPARE(check.trust_file(), check.trust_heading() + "verified\r\n");
        QCOMPARE(check.folder.open_to_others(), QStringList{"lumetta_pop.cfg"});
        const QString cache = header_cache_file_name({check.server, "user21"});
        for (const QString& name :
             {DovecotFixture::address() + ".svr", cache, QString("logfile.txt")}) {
            QFile::setPermissions(check.folder.file(name),
                                  QFile::permissions(check.folder.file("lumetta_pop.cfg")));
        }
        check.folder.write(
            cache, check.folder.read(cache).replace("\tsecond\r\n", "\tfrom the cache\r\n"));
        check.run();
        const QString no_stls = ": the server does not offer STLS, so the password travels";
        QVERIFY2(check.trace().contains(" 2 - bob@example.org - from the cache") &&
                     check.log().count(DovecotFixture::address() + no_stls + " unencrypted") == 1 &&
                     !check.log().contains(check.server + ": the server does not offer"),
                 qPrintable(check.log()));
        check.context.log.log_event("a later line");
        QCOMPARE(check.folder.open_to_others(), QStringList{"lumetta_pop.cfg"});
        ::umask(umask_before);
    }

    // Dovecot's STLS listener through a relay that sees what travels in clear.
    void stls_upgrades_and_refuses_downgrades() {
        fill("user25", "s@example.org", "stls");
        TcpProxy relay("127.0.0.1", dovecot_tls_port("STLS"));
        TlsCheck check(relay.port(), 995, "user25");
        check.run();
        QVERIFY2(check.trace().contains(" 1 - s@example.org - stls"), qPrintable(check.log()));
        QVERIFY(relay.client_bytes().startsWith("CAPA\r\nSTLS\r\n") &&
                !relay.client_bytes().contains("USER") && !check.log().contains("unencrypted"));
        QCOMPARE(check.trust_file(), check.trust_heading() + "STLS\r\nverified\r\n");
        // STLS stripped from CAPA, CAPA refused, or a damaged mark: no USER.
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
            // No advice that ends in a password sent in clear.
            QVERIFY(!check.log().contains("delete " + check.folder.file(check.server + ".tls")));
            QCOMPARE(check.log().count(damaged), attack / 2);
            QCOMPARE(check.log().count(check.cannot_connect()), attack + 1);
        }
    }

    // USER/PASS in clear only after CAPA answered without STLS on that
    // connection; an unanswered CAPA is asked again on a new connection and at
    // the next check. A hang-up on CAPA gets the basic dialogue anew unless
    // STLS was offered before. After STLS only the TLS listing counts.
    void capa_and_stls_data() {
        QTest::addColumn<StlsRow>("row");
        const Transcript asked = {"S: +OK hi", "C: CAPA"}, next = {"--"};
        const Transcript stls = {"S: +OK\r\nSTLS\r\n.", "C: STLS"};
        const auto offers = [](const char* clear_listing, const Transcript& over_tls) {
            return Transcript{Said(QByteArray("S: +OK\r\nSTLS\r\n") + clear_listing + "."),
                              "C: STLS", ScriptedReply::start_tls("+OK begin TLS"), "C: CAPA"} +
                   over_tls;
        };
        const Transcript stalled = {ScriptedReply::late("+OK\r\nSTLS\r\n.\r\n", 2 * kStallMs),
                                    "--"};
        const Transcript hung_up = {ScriptedReply::close(""), "--", "S: +OK hi"};
        const Transcript login = {
            "C: USER ann", "S: +OK",  Said("C: PASS " + DovecotFixture::password().toUtf8()),
            "S: +OK",      "C: STAT", "S: +OK 1 0"};
        const Transcript top = {"C: TOP 1 0", ScriptedReply::text(testing::top_reply("a@x", "1"))};
        const Transcript basic = login + top, read_top = Transcript{"S: +OK\r\nTOP\r\n."} + basic;
        const Transcript read = offers("", read_top);
        const Transcript uidl = {"C: UIDL", "S: +OK\r\n1 u1\r\n.", "C: LIST",
                                 "S: +OK\r\n1 10\r\n."};
        const auto row = [](const char* name, const Transcript& dialogue, int checks,
                            bool marked = false, const QString& logged = {}, int times = 0) {
            QTest::newRow(name) << StlsRow{dialogue, checks, marked, logged, times};
        };
        row("first CAPA stalls", asked + stalled + asked + read + next + asked + read, 2);
        row("marked, CAPA stalls twice", asked + stalled + asked + stalled + asked + read, 2, true,
            "no reply to CAPA within 2 s, on a second connection too; nothing else was sent, and "
            "CAPA is asked again at the next check",
            1);
        row("hangs up on CAPA", asked + hung_up + basic + next + asked + hung_up + basic, 2, false,
            "the password travels unencrypted", 1);
        row("marked, hangs up on CAPA", asked + hung_up + next + asked + hung_up, 2, true,
            "it offered STLS before and does not now, so someone may be in between", 2);
        row("fewer capabilities over TLS", asked + offers("UIDL\r\nPIPELINING\r\n", read_top), 1);
        row("CAPA refused over TLS", asked + offers("UIDL\r\n", Transcript{"S: -ERR"} + basic), 1);
        row("UIDL only over TLS",
            asked + offers("", Transcript{"S: +OK\r\nUIDL\r\n."} + login + uidl + top), 1);
        row("CAPA stalls over TLS",
            asked + offers("", {ScriptedReply::late("+OK\r\n.\r\n", 2 * kStallMs)}), 1, false,
            "no reply to CAPA after STLS within 2 s", 1);
        // A server that offers STLS and then fails it gets nothing more.
        row("STLS refused", asked + stls + Transcript{"S: -ERR not now"}, 1, false,
            "failed: the server refused STLS (-ERR not now)", 1);
        row("closed after agreeing to STLS",
            asked + stls + Transcript{ScriptedReply::close("+OK begin TLS\r\n")}, 1, false,
            "Can\u00B4t connect to Pop3", 1);
    }
    void capa_and_stls() {
        QFETCH(StlsRow, row);
        ScriptedPop3Server server;
        server.use_certificate("good");
        server.transcript = row.dialogue;
        TlsCheck check(server.port(), 995, "ann", true, kStallMs);
        if (row.marked) {
            check.folder.write(check.server + ".tls", check.trust_heading() + "STLS\r\n");
        }
        for (int n = 0; n < row.checks; ++n) {
            check.run();
        }
        QCOMPARE(server.commands.size(),
                 std::count_if(row.dialogue.begin(), row.dialogue.end(),
                               [](const Said& said) { return said.kind == Said::Client; }));
        const QString log = check.log();
        QVERIFY2((row.logged.isEmpty() || log.count(row.logged) == row.times) &&
                     log.contains("in between") == row.logged.contains("in between") &&
                     log.contains("unencrypted") == row.logged.contains("unencrypted"),
                 qPrintable(log));
    }

    // Dovecot's certificate from an unknown authority: No fails the account,
    // Yes pins it, and a pinned one is taken without asking.
    void untrusted_certificate_is_asked_about() {
        fill("user26", "p@example.org", "pin");
        TcpProxy relay("127.0.0.1", dovecot_tls_port("STLS"));
        TlsCheck check(relay.port(), 995, "user26", false);
        check.run();
        QCOMPARE(check.prompts.size(), 1);
        const QString box = check.prompts[0];
        QVERIFY2(box.startsWith("The mail server " + check.server + " sent a certificate") &&
                     box.contains("\nSHA-256 fingerprint:\n" + fingerprint_of("good") + "\n"),
                 qPrintable(box));
        QVERIFY2(check.log().contains(check.failed() +
                                      "the server's certificate comes from an untrusted issuer") &&
                     !relay.client_bytes().contains("USER") && !check.trust_file().contains("pin"),
                 qPrintable(check.log()));
        check.answer = PromptAnswer::Yes;
        check.run();
        QVERIFY2(check.trace().contains(" 1 - p@example.org - pin"), qPrintable(check.log()));
        QVERIFY(check.trust_file().endsWith("\r\nSTLS\r\npin " + fingerprint_of("good").toUtf8() +
                                            "\r\n"));
        check.answer = PromptAnswer::No;
        check.run();
        QCOMPARE(check.prompts.size(), 2);
        QVERIFY2(check.trace().contains(" 1 - p@example.org - pin") &&
                     !relay.client_bytes().contains("USER"),
                 qPrintable(check.log()));
    }

    // A certificate other than the pinned one is asked about again, and Yes
    // pins it instead. One the system no longer verifies where it did before
    // is refused without a question. Nothing is sent either way.
    void changed_certificate_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("kept");
        QTest::newRow("pinned") << "selfsigned"
                                << "the server's certificate comes from an untrusted issuer"
                                << "pin " + fingerprint_of("unknown") + "\r\n";
        QTest::newRow("verified by the system")
            << "good"
            << "the system verified this server's certificate before and does not verify the one "
               "it sent now (the server's certificate comes from an untrusted issuer): the "
               "trusted certificate was replaced, and someone may be in between"
            << "verified\r\n";
    }
    void changed_certificate() {
        QFETCH(QString, first);
        QFETCH(QString, reason);
        QFETCH(QString, kept);
        ScriptedPop3Server server(first);
        server.responder = ScriptedPop3Server::mailbox({});
        TlsCheck check(server.port(), server.port());
        check.answer = PromptAnswer::Yes;
        check.run();
        QVERIFY2(server.commands.contains("STAT"), qPrintable(check.log()));
        const qsizetype asked_first = check.prompts.size();
        server.use_certificate("unknown");
        check.answer = PromptAnswer::No;
        const qsizetype received = server.commands.size();
        check.run();
        QCOMPARE(server.commands.size(), received);
        QVERIFY2(check.log().contains(check.failed() + reason), qPrintable(check.log()));
        check.answer = PromptAnswer::Yes;
        check.run();
        QCOMPARE(check.trust_file(), check.trust_heading() + kept.toUtf8());
        QCOMPARE(check.prompts.size(), asked_first == 0 ? 0 : 3);
        QVERIFY(asked_first == 0
                    ? server.commands.size() == received
                    : check.prompts[1].contains("not the certificate you trusted before") &&
                          check.prompts[1].contains(fingerprint_of("unknown")));
    }

    // A connection that gets no further fails, with the handshake's reason
    // (if any) logged before the failed connection, and nothing sent.
    void failed_connections_data() { testing::add_rows(kFailed); }
    void failed_connections() {
        QFETCH(FailedRow, row);
        ScriptedPop3Server server(row.end == 'c' ? row.certificate : "good");
        QTcpServer silent, closed;
        QVERIFY(silent.listen(QHostAddress::LocalHost) && closed.listen(QHostAddress::LocalHost));
        const quint16 refused = closed.serverPort();
        closed.close();
        const quint16 port = QHash<char, quint16>{{'c', server.port()},
                                                  {'p', DovecotFixture::port()},
                                                  {'t', dovecot_tls_port()},
                                                  {'r', refused},
                                                  {'s', silent.serverPort()}}[row.end];
        TlsCheck check(port, row.tls_client ? port : quint16(995), "user22");
        check.run();
        const QString log = check.log();
        const qsizetype failed = log.indexOf(check.failed());
        QVERIFY2(log.indexOf(check.cannot_connect()) > failed && (failed >= 0) == !!row.failure &&
                     (!row.failure || log.mid(failed).section('\n', 0, 0).contains(row.failure)),
                 qPrintable(log));
        QVERIFY(server.connections == (row.end == 'c' ? 1 : 0) && server.commands.isEmpty() &&
                check.idle());
    }
};

QTEST_MAIN(TlsCheckTest)
#include "tls_check_dovecot_test.moc"
