// SASL bearer mechanisms, the PKCE challenge and token endpoint answers, against
// their RFCs' examples where there are some.
#include <QtTest>

#include "auth/sasl.h"
#include "auth/sign_in.h"
#include "auth/token_endpoint.h"

using namespace ostrel;

class WireFormatsTest : public QObject {
    Q_OBJECT
private slots:
    void mechanisms_and_initial_responses() {
        // RFC 7628 section 4.1, and Google's XOAUTH2 example.
        QCOMPARE(bearer_initial_response(
                     BearerMechanism::OAuthBearer, "user@example.com",
                     "vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg==", "server.example.com", 143),
                 QByteArray("bixhPXVzZXJAZXhhbXBsZS5jb20sAWhvc3Q9c2VydmVyLmV4YW1wbGUuY29tAXBvcnQ9"
                            "MTQzAWF1dGg9QmVhcmVyIHZGOWRmdDRxbVRjMk52YjNSbGNrQmhiSFJoZG1semRHRXVZ"
                            "Mjl0Q2c9PQEB"));
        QCOMPARE(bearer_initial_response(BearerMechanism::XOAuth2, "someuser@example.com",
                                         "ya29.vF9dft4qmTc2Nvb3RlckBhdHRhdmlzdGEuY29tCg", "", 0),
                 QByteArray("dXNlcj1zb21ldXNlckBleGFtcGxlLmNvbQFhdXRoPUJlYXJlciB5YTI5LnZGOWRmdDRx"
                            "bVRjMk52YjNSbGNrQmhkSFJoZG1semRHRXVZMjl0Q2cBAQ=="));
        // The GS2 header escapes what would end the login early.
        QCOMPARE(QByteArray::fromBase64(
                     bearer_initial_response(BearerMechanism::OAuthBearer, "a,b=c", "t", "h", 995)),
                 QByteArray("n,a=a=2Cb=3Dc,\x01host=h\x01port=995\x01"
                            "auth=Bearer t\x01\x01"));
        QCOMPARE(bearer_challenge_answer(BearerMechanism::XOAuth2), QByteArray());
        QCOMPARE(sasl_mechanisms(u"SASL PLAIN xoauth2  OAUTHBEARER"),
                 QStringList({"PLAIN", "XOAUTH2", "OAUTHBEARER"}));
        QCOMPARE(
            sasl_mechanisms(u"sasl") + sasl_mechanisms(u"SASLX XOAUTH2") + sasl_mechanisms(u"USER"),
            QStringList());
    }

    void refusal_reasons() {
        const char* unreadable = "the server refused the token without a readable reason";
        const struct {
            QByteArray challenge;
            const char* reason;
        } cases[] = {
            // RFC 7628 section 4.3.
            {"eyJzdGF0dXMiOiJpbnZhbGlkX3Rva2VuIiwic2NvcGUiOiJleGFtcGxlX3Njb3BlIiwib3BlbmlkLWNvbmZp"
             "Z3VyYXRpb24iOiJodHRwczovL2V4YW1wbGUuY29tLy53ZWxsLWtub3duL29wZW5pZC1jb25maWd1cmF0aW9u"
             "In0=",
             "the server refused the token (invalid_token), asking for the scope "
             "\"example_scope\""},
            // Dovecot's XOAUTH2 answer.
            {QByteArray("{\"status\":\"401\",\"schemes\":\"bearer\"}").toBase64(),
             "the server refused the token (401)"},
            {"not base64!", unreadable},
            {QByteArray("[1,2]").toBase64(), unreadable},
            {QByteArray("{\"status\":\"bad\\r\\nline\"}").toBase64(), unreadable},
            {QByteArray("{\"status\":\"x\",\"scope\":\"\\u0007\"}").toBase64(),
             "the server refused the token (x)"},
        };
        for (const auto& c : cases) {
            QCOMPARE(bearer_refusal_reason(c.challenge), QString::fromUtf8(c.reason));
        }
    }

    void pkce() {
        // RFC 7636 appendix B.
        QCOMPARE(code_challenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
                 QString("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"));
        const QString verifier = make_code_verifier();
        QVERIFY(QRegularExpression("^[A-Za-z0-9_-]{43}$").match(verifier).hasMatch());
        QVERIFY(make_code_verifier() != verifier);
    }

    void token_replies() {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const TokenReply granted = read_token_reply(
            200, "{\"access_token\":\"A\",\"refresh_token\":\"R\",\"expires_in\":3600}", now);
        QCOMPARE(granted.status, TokenReply::Granted);
        QCOMPARE(granted.grant.access_token + granted.grant.refresh_token, QString("AR"));
        QCOMPARE(granted.grant.expires_at, now.addSecs(3600));
        QVERIFY(!read_token_reply(200, "{\"access_token\":\"A\"}", now).grant.expires_at.isValid());

        const struct {
            int http_status;
            QByteArray body;
            TokenReply::Status status;
            const char* reason;
        } failures[] = {
            {400,
             "{\"error\":\"invalid_grant\",\"error_description\":\"grant request is invalid\"}",
             TokenReply::Refused,
             "the provider answered \"invalid_grant\": grant request is invalid"},
            {401, "{\"error\":\"invalid_client\"}", TokenReply::Failed,
             "the provider answered \"invalid_client\""},
            {200, "{\"token_type\":\"Bearer\"}", TokenReply::Failed,
             "the provider's answer holds no access token"},
            {502, "<html>Bad gateway</html>", TokenReply::Failed,
             "the provider answered with HTTP status 502"},
            {400, "{\"error\":\"x\\u001b[31m\",\"error_description\":\"line\\none\"}",
             TokenReply::Failed, "the provider answered \"x [31m\": line one"},
        };
        for (const auto& f : failures) {
            const TokenReply reply = read_token_reply(f.http_status, f.body, now);
            QCOMPARE(reply.status, f.status);
            QCOMPARE(reply.reason, QString::fromUtf8(f.reason));
            QVERIFY(reply.grant.access_token.isEmpty());
        }
    }
};

QTEST_APPLESS_MAIN(WireFormatsTest)
#include "wire_formats_test.moc"
