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

TokenAnswer ready(const QString& token) {
    return {TokenAnswer::Ready, token, {}, false};
}

const QByteArray kRead =
    "C: {tag} EXAMINE INBOX\nS: * 1 EXISTS\nS: * OK [UIDVALIDITY 3] v\nS: {tag} OK [READ-ONLY] "
    "done\nC: {tag} UID FETCH 1:* (UID BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])\n"
    "S: * 1 FETCH (UID 4 BODY[HEADER.FIELDS (FROM SUBJECT)] \"Subject: hi\")\nS: {tag} OK\n";

// A check of the signed-in account ann, whose tokens come in turn from
// `tokens`.
struct BearerCheck : testing::CheckFixture {
    explicit BearerCheck(const QString& server, QList<TokenAnswer> answers)
        : CheckFixture(3000, {995, QSslCertificate::fromPath(testing::certificate_file("ca.pem"))},
                       PasswordStore::kTimeoutMs,
                       [this](const QString&, const QString& login, bool renew) {
                           asked << login + (renew ? " renew" : "");
                           return tokens.isEmpty() ? TokenAnswer() : tokens.takeFirst();
                       }),
          tokens(std::move(answers)) {
        write_accounts(server.toUtf8() + "<>ann<><>\r\n");
    }
    QList<TokenAnswer> tokens;
    QStringList asked;
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

    // The transcripts take the port the server gets, so each row builds its
    // own from it.
    void over_tls_with_the_offered_mechanism_data() {
        QTest::addColumn<QByteArray>("name");
        for (const char* name : {"SASL-IR, OAUTHBEARER", "no SASL-IR, XOAUTH2", "refused, renewed",
                                 "refused twice", "no token mechanism"}) {
            QTest::newRow(name) << QByteArray(name);
        }
    }
    void over_tls_with_the_offered_mechanism() {
        QFETCH(QByteArray, name);
        ScriptedImapServer server("good", {});
        const quint16 port = server.port();
        const QByteArray both =
            "S: * OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2 AUTH=OAUTHBEARER SASL-IR] hi\n";
        const auto with_ir = [&](const QString& token) {
            return "C: {tag} AUTHENTICATE OAUTHBEARER " +
                   initial(BearerMechanism::OAuthBearer, token, port) + "\n";
        };
        const QByteArray refusal = "S: + " +
                                   QByteArray(R"({"status":"invalid_token"})").toBase64() +
                                   "\nC: AQ==\nS: {tag} NO [AUTHENTICATIONFAILED] no\n";
        QList<TokenAnswer> tokens = {ready("token-1")};
        QStringList asked = {"ann"};
        QString logged;
        bool read = true;
        if (name == "SASL-IR, OAUTHBEARER") {
            server.transcripts = {both + with_ir("token-1") + "S: {tag} OK in\n" + kRead};
        } else if (name == "no SASL-IR, XOAUTH2") {
            server.transcripts = {
                "S: * OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2] hi\n"
                "C: {tag} AUTHENTICATE XOAUTH2\nS: +\nC: " +
                initial(BearerMechanism::XOAuth2, "token-1", port) + "\nS: {tag} OK in\n" + kRead};
        } else if (name == "refused, renewed") {
            server.transcripts = {both + with_ir("token-1") + refusal,
                                  both + with_ir("token-2") + "S: {tag} OK in\n" + kRead};
            tokens << ready("token-2");
            asked << "ann renew";
        } else if (name == "refused twice") {
            server.transcripts = {
                both + with_ir("token-1") + refusal,
                both + with_ir("token-2") + "S: {tag} NO [AUTHENTICATIONFAILED] no\n"};
            tokens << ready("token-2");
            asked << "ann renew";
            logged =
                ": the sign-in token of ann was refused, and a renewed one too: the server "
                "answered \"NO [AUTHENTICATIONFAILED] no\"; the account was not checked";
            read = false;
        } else {
            server.transcripts = {"S: * OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] hi\n"};
            logged =
                ": the server offers no sign-in with a token (AUTH=OAUTHBEARER or "
                "AUTH=XOAUTH2), so ann, which is signed in with its provider, was not "
                "checked; no password is sent for it";
            read = false;
        }
        const QString address = QStringLiteral("imaps://127.0.0.1:%1").arg(port);
        BearerCheck check(address, tokens);
        check.run();
        QVERIFY2(server.mismatch.isEmpty(), server.mismatch.constData());
        QCOMPARE(check.asked, asked);
        QCOMPARE(check.trace().contains(" 1 -  - hi"), read);
        QVERIFY(!server.received.join('\n').contains("LOGIN"));
        const QString log = check.log_text();
        QVERIFY2(logged.isEmpty() ? !log.contains("token") : log.contains(address + logged),
                 qPrintable(log));
        QVERIFY(check.prompts.isEmpty());
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
        BearerCheck check(address, {ready("token-1")});
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
