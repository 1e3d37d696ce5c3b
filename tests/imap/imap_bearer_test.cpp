// IMAP accounts signed in with their provider authenticate with a bearer
// token (AUTHENTICATE, RFC 7628 or XOAUTH2): over TLS only, with the
// mechanism the server offers, the initial response on the command's line
// where SASL-IR allows, a refused token renewed once on a new connection, and
// never a LOGIN instead. Scripted servers over TLS (the test certificate) and
// in clear.
#include <QSignalSpy>
#include <QSslCertificate>
#include <QtTest>

#include "auth/sasl.h"
#include "imap/idle_watcher.h"
#include "support/check_fixture.h"
#include "support/scripted_imap_server.h"
#include "support/scripted_pop3_server.h"

using namespace ostrel;
using testing::ScriptedImapServer;

namespace {

using testing::ready_token;

const QByteArray kRead =
    "C: {tag} EXAMINE INBOX\nS: * 1 EXISTS\nS: * OK [UIDVALIDITY 3] v\nS: {tag} OK [READ-ONLY] "
    "done\nC: {tag} UID FETCH 1:* (UID BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])\n"
    "S: * 1 FETCH (UID 4 BODY[HEADER.FIELDS (FROM SUBJECT)] \"Subject: hi\")\nS: {tag} OK\n";

// A check of the signed-in account ann on `server`.
struct BearerCheck : testing::SignedInCheck {
    BearerCheck(const QString& server, const QList<TokenAnswer>& answers)
        : SignedInCheck({995, QSslCertificate::fromPath(testing::certificate_file("ca.pem"))}) {
        tokens["ann"] = answers;
        write_accounts(server.toUtf8() + "<>ann<><>\r\n");
    }
};

QByteArray initial(BearerMechanism mechanism, const QString& token, quint16 port) {
    return bearer_initial_response(mechanism, "ann", token, "127.0.0.1", port);
}

}  // namespace

class ImapBearerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("OSTREL_TEST_CERTS")) {
            QSKIP("OSTREL_TEST_CERTS is not set: scripts/test makes the test certificates");
        }
    }

    // Each row's transcripts take the port its server gets; "IR <token>" is
    // AUTHENTICATE OAUTHBEARER with the initial response of that token.
    void over_tls_with_the_offered_mechanism() {
        const QByteArray both =
            "S: * OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2 AUTH=OAUTHBEARER SASL-IR] hi\n";
        const QByteArray refusal = "S: + " +
                                   QByteArray(R"({"status":"invalid_token"})").toBase64() +
                                   "\nC: AQ==\nS: {tag} NO [AUTHENTICATIONFAILED] no\n";
        const QByteArray in = "S: {tag} OK in\n" + kRead;
        const struct {
            QByteArrayList transcripts;
            QStringList asked;
            const char* logged;  // empty: read, and no line
        } rows[] = {
            {{both + "IR token-1\n" + in}, {"ann"}, ""},
            {{"S: * OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2] hi\nC: {tag} AUTHENTICATE XOAUTH2\n"
              "S: +\nC: XOAUTH2 token-1\n" +
              in},
             {"ann"},
             ""},
            {{both + "IR token-1\n" + refusal, both + "IR token-2\n" + in},
             {"ann", "ann renew"},
             ""},
            {{both + "IR token-1\n" + refusal,
              both + "IR token-2\nS: {tag} NO [AUTHENTICATIONFAILED] no\n"},
             {"ann", "ann renew"},
             ": the sign-in token of ann was refused, and a renewed one too: the server answered "
             "\"NO [AUTHENTICATIONFAILED] no\"; the account was not checked"},
            {{"S: * OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] hi\n"},
             {"ann"},
             ": the server offers no sign-in with a token (AUTH=OAUTHBEARER or AUTH=XOAUTH2), so "
             "ann, which is signed in with its provider, was not checked; no password is sent"},
        };
        for (const auto& row : rows) {
            ScriptedImapServer server("good", {});
            for (QByteArray transcript : row.transcripts) {
                for (const char* token : {"token-1", "token-2"}) {
                    const auto initial = [&](BearerMechanism mechanism) {
                        return bearer_initial_response(mechanism, "ann", token, "127.0.0.1",
                                                       server.port());
                    };
                    transcript.replace("IR " + QByteArray(token),
                                       "C: {tag} AUTHENTICATE OAUTHBEARER " +
                                           initial(BearerMechanism::OAuthBearer));
                    transcript.replace("XOAUTH2 " + QByteArray(token),
                                       initial(BearerMechanism::XOAuth2));
                }
                server.transcripts << transcript;
            }
            const QString address = QStringLiteral("imaps://127.0.0.1:%1").arg(server.port());
            BearerCheck check(address, {ready_token("token-1"), ready_token("token-2")});
            check.run();
            QVERIFY2(server.mismatch.isEmpty(), server.mismatch.constData());
            QCOMPARE(check.asked, row.asked);
            QCOMPARE(check.trace().contains(" 1 -  - hi"), !*row.logged);
            QVERIFY(!server.received.join('\n').contains("LOGIN"));
            const QString log = check.log_text();
            QVERIFY2(*row.logged ? log.contains(address + row.logged) : !log.contains("token"),
                     qPrintable(log));
        }
    }

    // The idle watcher authenticates with the token of the moment, which the
    // credential's renewal gives at each connection.
    void idle_watcher_takes_the_token_of_the_moment() {
        ScriptedImapServer server("good", {});
        server.transcripts = {
            "S: * OK [CAPABILITY IMAP4rev1 IDLE AUTH=OAUTHBEARER SASL-IR] hi\n"
            "C: {tag} AUTHENTICATE OAUTHBEARER " +
            initial(BearerMechanism::OAuthBearer, "fresh", server.port()) +
            "\nS: {tag} OK in\nC: {tag} EXAMINE INBOX\nS: * 1 EXISTS\nS: {tag} OK\n"
            "C: {tag} IDLE\nS: + idling\nS: * 2 EXISTS\n"};
        testing::ContextFixture context;
        imap::IdleWatcher watcher(context.files, context.log,
                                  {QStringLiteral("imaps://127.0.0.1:%1").arg(server.port()),
                                   "ann",
                                   {Credential::Kind::BearerToken, "stale",
                                    [] { return std::optional<QString>("fresh"); }}},
                                  {3000, 300, 50, 400},
                                  QSslCertificate::fromPath(testing::certificate_file("ca.pem")));
        QSignalSpy news(&watcher, &imap::IdleWatcher::new_mail);
        watcher.start();
        QTRY_COMPARE_WITH_TIMEOUT(news.size(), 1, 5000);
        QVERIFY2(server.mismatch.isEmpty(), server.mismatch.constData());
    }

    // A server that offers no TLS is sent nothing for a signed-in account.
    void no_token_in_clear() {
        ScriptedImapServer server({"S: * OK [CAPABILITY IMAP4rev1 AUTH=OAUTHBEARER SASL-IR] hi\n"});
        const QString address = QStringLiteral("imap://127.0.0.1:%1").arg(server.port());
        BearerCheck check(address, {ready_token("token-1")});
        check.run();
        QCOMPARE(server.received, QByteArrayList());
        QVERIFY2(check.log_text().contains(
                     address + ": the server offers no secure connection (imaps:// or STARTTLS), "
                               "so the sign-in token of ann was not sent"),
                 qPrintable(check.log_text()));
    }
};

QTEST_MAIN(ImapBearerTest)
#include "imap_bearer_test.moc"
