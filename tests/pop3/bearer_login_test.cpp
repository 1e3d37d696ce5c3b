// Signed-in accounts log in with AUTH and a bearer token (RFC 5034): over TLS
// only, with the offered mechanism, a refused token renewed once on a new
// connection, and never a password instead.
#include <QSslCertificate>
#include <QtTest>

#include "auth/sasl.h"
#include "support/check_fixture.h"
#include "support/scripted_pop3_server.h"

using namespace ostrel;
using testing::certificate_file;
using testing::Said;
using testing::ScriptedPop3Server;
using testing::ScriptedReply;
using testing::Transcript;

namespace {

using testing::ready_token;
const TokenAnswer kSignInAgain{TokenAnswer::SignInAgain, {}, "sign ann in again", true};

// The refusal OAUTHBEARER's error challenge carries (RFC 7628).
const QByteArray kChallenge = R"({"status":"invalid_token"})";

// A check of the signed-in ann on `server`, then of bob, a password account on
// a plain server with one message.
struct BearerCheck : testing::SignedInCheck {
    BearerCheck(ScriptedPop3Server& server, bool tls = true)
        : SignedInCheck({tls ? server.port() : quint16(995),
                         QSslCertificate::fromPath(certificate_file("ca.pem"))}),
          server(server) {
        other.responder = ScriptedPop3Server::mailbox({testing::top_reply("x@y", "for bob")});
        write_accounts(this->server.address().toUtf8() + "<>ann<><>\r\n" +
                       other.address().toUtf8() + "<>bob<>pw<>zzz\r\n");
    }
    // The lines logged, without dates, bob's no-STLS note and ann's verified one.
    QStringList log() const {
        QStringList lines;
        for (const QString& line : log_text().split("\r\n", Qt::SkipEmptyParts)) {
            if (!line.endsWith("the password travels unencrypted") &&
                !line.contains("that the system verified its certificate is kept")) {
                lines << line.section(" - ", 1);
            }
        }
        return lines;
    }
    Said auth(BearerMechanism mechanism, const QString& token) const {
        return Said("C: AUTH " + mechanism_name(mechanism).toLatin1() + ' ' +
                    bearer_initial_response(mechanism, "ann", token, "127.0.0.1", server.port()));
    }
    bool bob_read() const { return trace().contains("for bob"); }

    ScriptedPop3Server& server;
    ScriptedPop3Server other;
};

const char* const kOffers = "S: +OK\r\nSASL PLAIN XOAUTH2 OAUTHBEARER\r\n.";
const Transcript kAsked = {"S: +OK", "C: CAPA"};

}  // namespace

class BearerLoginTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("OSTREL_TEST_CERTS")) {
            QSKIP("OSTREL_TEST_CERTS is not set: scripts/test makes the test certificates");
        }
    }

    // The mechanism is the one the server offers, OAUTHBEARER first; a long
    // token goes after an empty challenge, since POP3 lines hold 255 octets.
    void logs_in_with_the_offered_mechanism() {
        const struct {
            const char* offered;
            BearerMechanism used;
            QString token;
        } rows[] = {
            {kOffers, BearerMechanism::OAuthBearer, "token-1"},
            {"S: +OK\r\nSASL XOAUTH2\r\n.", BearerMechanism::XOAuth2, QString(300, 't')},
        };
        for (const auto& row : rows) {
            ScriptedPop3Server server("good");
            BearerCheck check(server);
            check.tokens["ann"] = {ready_token(row.token)};
            const QByteArray line = check.auth(row.used, row.token).client;
            const qsizetype cut = line.lastIndexOf(' ');
            server.transcript =
                kAsked + Transcript{row.offered} +
                (line.size() + 2 > 255 ? Transcript{Said("C: " + line.left(cut)), "S: + ",
                                                    Said("C: " + line.mid(cut + 1))}
                                       : Transcript{check.auth(row.used, row.token)}) +
                Transcript{"S: +OK signed in", "C: STAT", "S: +OK 1 99", "C: TOP 1 0",
                           ScriptedReply::text(testing::top_reply("a@b", "hi"))};
            check.run();
            QVERIFY(check.trace().contains("a@b - hi") && check.bob_read() &&
                    check.log().isEmpty());
            QCOMPARE(check.asked, QStringList({"ann"}));
        }
    }

    // A refused token is renewed once and tried on a new connection; a second
    // refusal or a failed renewal ends that account only, in one line, with no
    // password or USER sent.
    void refused_tokens_are_renewed_once() {
        const struct {
            QList<TokenAnswer> answers;
            Transcript after_renewal;  // on a new connection; empty: none
            QString logged;            // after the server; empty: nothing
            int notices;
        } rows[] = {
            {{ready_token("token-1"), ready_token("token-2")},
             {"S: +OK", "C: STAT", "S: +OK 0 0"},
             {},
             0},
            {{ready_token("token-1"), ready_token("token-2")},
             {"S: -ERR [AUTH] Authentication\tfailed."},
             ": the sign-in token of ann was refused, and a renewed one too: the server "
             "answered \"-ERR [AUTH] Authentication failed.\"; the account was not checked",
             0},
            {{ready_token("token-1"), kSignInAgain},
             {},
             ": sign ann in again; until then the account is not checked",
             1},
        };
        for (const auto& row : rows) {
            ScriptedPop3Server server("good");
            BearerCheck check(server);
            check.tokens["ann"] = row.answers;
            server.transcript =
                kAsked + Transcript{kOffers, check.auth(BearerMechanism::OAuthBearer, "token-1"),
                                    Said("S: + " + kChallenge.toBase64()),
                                    "C: AQ==", "S: -ERR [AUTH] Invalid token"};
            if (!row.after_renewal.isEmpty()) {
                server.transcript +=
                    Transcript{"--"} + kAsked +
                    Transcript{kOffers, check.auth(BearerMechanism::OAuthBearer, "token-2")} +
                    row.after_renewal;
            }
            check.run();
            QCOMPARE(check.asked, QStringList({"ann", "ann renew"}));
            QCOMPARE(check.log().join('\n'),
                     row.logged.isEmpty() ? "" : server.address() + row.logged);
            QVERIFY(check.bob_read() && check.notes.open_count() == row.notices &&
                    check.prompts.isEmpty());
        }
    }

    // No token mechanism, or no TLS: nothing is sent for the signed-in account.
    void no_token_where_it_cannot_go() {
        ScriptedPop3Server tls_server("good"), plain;
        const struct {
            ScriptedPop3Server& server;
            Transcript dialogue;
            QString logged;
        } rows[] = {
            {tls_server,
             {"S: +OK", "C: CAPA", "S: +OK\r\nSASL PLAIN LOGIN\r\nUIDL\r\n."},
             ": the server offers no sign-in with a token (SASL OAUTHBEARER or XOAUTH2), so ann, "
             "which is signed in with its provider, was not checked; no password is sent for it"},
            {tls_server, {"S: +OK", "C: CAPA", "S: -ERR"}, ": the server offers no sign-in"},
            {plain,
             {"S: +OK", "C: CAPA", "S: +OK\r\nSASL XOAUTH2\r\nUSER\r\n."},
             ": the server offers no secure connection (port 995 or STLS), so the sign-in token "
             "of ann was not sent and the account was not checked"},
        };
        for (const auto& row : rows) {
            BearerCheck check(row.server, &row.server == &tls_server);
            check.tokens["ann"] = {ready_token("secret-token")};
            row.server.transcript = row.dialogue;
            row.server.commands.clear();
            check.run();
            QCOMPARE(row.server.commands, QByteArrayList({"CAPA"}));
            QVERIFY2(check.log().size() == 1 &&
                         check.log()[0].startsWith(row.server.address() + row.logged) &&
                         check.bob_read(),
                     qPrintable(check.log().join('\n')));
        }
    }
};

QTEST_MAIN(BearerLoginTest)
#include "bearer_login_test.moc"
