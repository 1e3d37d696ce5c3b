// Signing in as a person does: the test provider (scripts/oauth-test-server),
// headless Chromium as the session's default browser (scripts/browser-session)
// going through its sign-in and consent pages, GNOME Keyring keeping the
// refresh tokens (scripts/keyring-session), and Dovecot taking the access
// tokens over TLS with XOAUTH2 and OAUTHBEARER. Users oauth01 .. oauth05.
#include <QDesktopServices>
#include <QDirIterator>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QSslSocket>
#include <QTcpSocket>
#include <QtTest>

#include "auth/oauth_sessions.h"
#include "auth/providers_file.h"
#include "auth/sasl.h"
#include "auth/token_endpoint.h"
#include "core/event_log.h"
#include "core/secret_store.h"
#include "support/temp_folder.h"

using namespace ostrel;

namespace {

bool in_session() {
    return qEnvironmentVariable("OSTREL_BROWSER_SESSION") == QLatin1String("1") &&
           qEnvironmentVariable("OSTREL_KEYRING_SESSION") == QLatin1String("1") &&
           !qEnvironmentVariableIsEmpty("OSTREL_OAUTH_ISSUER");
}

QString env(const char* name) {
    return qEnvironmentVariable(name);
}
quint16 dovecot_port(const char* kind) {
    return quint16(
        qEnvironmentVariableIntValue(QByteArray("OSTREL_OAUTH_DOVECOT_") + kind + "_PORT"));
}

// The accounts sign in for the TLS port; that is where the token goes.
OAuthAccount account(const QString& login) {
    return {env("OSTREL_OAUTH_DOVECOT_HOST") + QStringLiteral(":%1").arg(dovecot_port("TLS")),
            login};
}

QByteArray providers_file(const QString& client_id) {
    const QString issuer = env("OSTREL_OAUTH_ISSUER");
    return QStringLiteral(
               "[Test provider]\nservers = %1\nauthorization url = %2/auth\n"
               "token url = %2/token\nrevocation url = %2/token/revocation\n"
               "scope = %3\nclient id = %4\n")
        .arg(env("OSTREL_OAUTH_DOVECOT_HOST"), issuer, env("OSTREL_OAUTH_SCOPE"), client_id)
        .toUtf8();
}

// What the person at the browser does with the next page: allow, deny or close.
void plan(const QString& action, const QString& login) {
    QFile file(env("OSTREL_BROWSER_PLAN"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(
        QStringLiteral("%1 %2 %3\n").arg(action, login, env("OSTREL_OAUTH_PASSWORD")).toUtf8());
}
int pages_opened() {
    QFile file(env("OSTREL_BROWSER_LOG"));
    return file.open(QIODevice::ReadOnly) ? int(file.readAll().count('\n')) : 0;
}

void wait_for_expiry() {
    QTest::qWait(qEnvironmentVariableIntValue("OSTREL_OAUTH_ACCESS_TTL") * 1000 + 500);
}

// Long enough for a TLS handshake on a loaded machine.
constexpr int kWaitMs = 15000;

// A raw POP3 login with a bearer token: over implicit TLS, or after STLS.
// Returns the server's last reply, or for a refusal the reason its challenge gives.
QString bearer_login(BearerMechanism mechanism, const QString& login, const QString& token,
                     bool stls) {
    QSslSocket socket;
    QSslConfiguration tls = socket.sslConfiguration();
    tls.addCaCertificates(env("OSTREL_TEST_CERTS") + "/ca.pem");
    socket.setSslConfiguration(tls);
    const QString host = env("OSTREL_OAUTH_DOVECOT_HOST");
    const quint16 port = dovecot_port(stls ? "STLS" : "TLS");
    const auto line = [&] {
        while (!socket.canReadLine() && socket.waitForReadyRead(kWaitMs)) {
        }
        return QString::fromLatin1(socket.readLine()).trimmed();
    };
    if (stls) {
        socket.connectToHost(host, port);
        line();
        socket.write("STLS\r\n");
        if (!line().startsWith("+OK")) {
            return "STLS refused";
        }
        socket.startClientEncryption();
    } else {
        socket.connectToHostEncrypted(host, port);
    }
    if (!socket.waitForEncrypted(kWaitMs)) {
        return socket.errorString();
    }
    if (!stls) {
        line();
    }
    socket.write("AUTH " + mechanism_name(mechanism).toLatin1() + ' ' +
                 bearer_initial_response(mechanism, login, token, host, port) + "\r\n");
    const QString reply = line();
    if (!reply.startsWith("+ ")) {
        return reply;
    }
    socket.write(bearer_challenge_answer(mechanism) + "\r\n");
    line();
    return bearer_refusal_reason(reply.mid(2).toLatin1());
}

const QString kLoggedIn = QStringLiteral("+OK Logged in.");

}  // namespace

class SignInBrowserTest : public QObject {
    Q_OBJECT

    // The program's parts, as the main window will own them.
    struct Program {
        explicit Program(int sign_in_timeout_ms = 30000)
            : log(folder.file("logfile.txt")),
              store(keyring, folder.file(kTokensFileName), log),
              providers(folder.file(kProvidersFileName), log),
              endpoint(network),
              browser([this](const QUrl& url) { return open(url); }, sign_in_timeout_ms),
              sessions(providers, store, endpoint, browser, log, 1) {
            folder.write(kProvidersFileName, providers_file(env("OSTREL_OAUTH_CLIENT_ID")));
        }
        QString refresh_token(const QString& login) {
            return keyring.read(token_entry(account(login).server, login)).password;
        }
        std::optional<OAuthProvider> provider() {
            return providers.for_server(account("x").server);
        }
        // Opens the page in the session's browser, after noting what the
        // redirect listener answers to: 127.0.0.1 only.
        bool open(const QUrl& url) {
            opened = url;
            QTcpSocket probe;
            const QUrl redirect(QUrlQuery(url).queryItemValue("redirect_uri", QUrl::FullyDecoded));
            probe.connectToHost("127.0.0.2", quint16(redirect.port()));
            redirect_elsewhere = probe.waitForConnected(2000);
            return QDesktopServices::openUrl(url);
        }

        testing::TempProgramFolder folder;
        EventLog log;
        SecretStore keyring{5000};
        TokenStore store;
        ProviderCatalogue providers;
        QNetworkAccessManager network;
        TokenEndpoint endpoint;
        SignIn browser;
        OAuthSessions sessions;
        QUrl opened;
        bool redirect_elsewhere = false;
    };

    std::unique_ptr<Program> program_;
    QStringList secrets_;  // every token seen, for the last test

    QString sign_in(const QString& login, const QString& action = "allow") {
        plan(action, login);
        const SignInResult result = program_->sessions.sign_in(account(login));
        return result.message;
    }
    QString ready_token(const QString& login) {
        const AccessToken token = program_->sessions.access_token(account(login));
        secrets_ << token.token << program_->refresh_token(login);
        return token.status == AccessToken::Ready ? token.token : token.reason;
    }

private slots:
    void initTestCase() {
        if (!in_session()) {
            QSKIP(
                "needs scripts/oauth-test-server's environment inside scripts/keyring-session "
                "and scripts/browser-session (scripts/test runs it so)");
        }
        program_ = std::make_unique<Program>();
    }

    // Sign in, log in to Dovecot both ways, renew silently after expiry, sign
    // in again, sign out.
    void a_sign_in_over_time() {
        const int pages = pages_opened();
        QCOMPARE(sign_in("oauth01"), QString("Signed in with Test provider."));
        QCOMPARE(pages_opened(), pages + 1);
        const QUrlQuery asked(program_->opened);
        QVERIFY(asked.queryItemValue("redirect_uri", QUrl::FullyDecoded)
                    .startsWith("http://127.0.0.1:"));
        QVERIFY(!program_->redirect_elsewhere);
        QCOMPARE(asked.queryItemValue("code_challenge_method"), QString("S256"));
        QCOMPARE(asked.queryItemValue("code_challenge").size(), 43);
        QCOMPARE(asked.queryItemValue("state").size(), 43);
        QCOMPARE(asked.queryItemValue("login_hint"), QString("oauth01"));
        const QString first_refresh = program_->refresh_token("oauth01");
        QVERIFY(!first_refresh.isEmpty());
        QVERIFY(!program_->folder.exists(kTokensFileName));  // the keyring holds it

        const QString first = ready_token("oauth01");
        QCOMPARE(bearer_login(BearerMechanism::XOAuth2, "oauth01", first, false), kLoggedIn);
        QCOMPARE(bearer_login(BearerMechanism::OAuthBearer, "oauth01", first, true), kLoggedIn);
        QCOMPARE(bearer_login(BearerMechanism::XOAuth2, "oauth02", first, false),
                 QString("the server refused the token (401), asking for the scope \"mail\""));

        wait_for_expiry();
        QCOMPARE(bearer_login(BearerMechanism::OAuthBearer, "oauth01", first, false),
                 QString("the server refused the token (invalid_token)"));
        const QString renewed = ready_token("oauth01");
        QVERIFY(renewed != first);
        QCOMPARE(bearer_login(BearerMechanism::XOAuth2, "oauth01", renewed, true), kLoggedIn);
        QCOMPARE(pages_opened(), pages + 1);  // no browser for a renewal
        // The provider rotates refresh tokens: the stored one is the new one.
        const QString second_refresh = program_->refresh_token("oauth01");
        QVERIFY(second_refresh != first_refresh && !second_refresh.isEmpty());
        QCOMPARE(program_->endpoint.refresh(*program_->provider(), first_refresh).status,
                 TokenReply::Refused);

        QCOMPARE(sign_in("oauth01"), QString("Signed in with Test provider."));
        const QString third_refresh = program_->refresh_token("oauth01");
        QVERIFY(third_refresh != second_refresh && !third_refresh.isEmpty());
        QCOMPARE(bearer_login(BearerMechanism::XOAuth2, "oauth01", ready_token("oauth01"), false),
                 kLoggedIn);

        QCOMPARE(program_->sessions.sign_out(account("oauth01")), QString());
        QCOMPARE(program_->sessions.stored_state(account("oauth01")), StoredToken::Missing);
        QCOMPARE(program_->endpoint.refresh(*program_->provider(), third_refresh).status,
                 TokenReply::Refused);
        QCOMPARE(program_->sessions.access_token(account("oauth01")).status,
                 AccessToken::NotSignedIn);
    }

    // A sign-in the provider revoked ends that account's logins with one
    // notice, not one per check; other accounts go on; signing in resumes it.
    void a_revoked_sign_in_is_told_once() {
        QCOMPARE(sign_in("oauth02"), QString("Signed in with Test provider."));
        QCOMPARE(sign_in("oauth03"), QString("Signed in with Test provider."));
        ready_token("oauth02");
        QCOMPARE(
            program_->endpoint.revoke(*program_->provider(), program_->refresh_token("oauth02")),
            QString());
        wait_for_expiry();

        AccessToken refused = program_->sessions.access_token(account("oauth02"));
        QCOMPARE(refused.status, AccessToken::SignInAgain);
        QVERIFY(refused.first_notice);
        QCOMPARE(refused.reason, "the provider no longer accepts the sign-in of oauth02@" +
                                     account("oauth02").server + "; sign it in again");
        refused = program_->sessions.renewed_token(account("oauth02"));
        QCOMPARE(refused.status, AccessToken::SignInAgain);
        QVERIFY(!refused.first_notice);
        QCOMPARE(
            bearer_login(BearerMechanism::OAuthBearer, "oauth03", ready_token("oauth03"), false),
            kLoggedIn);

        QCOMPARE(sign_in("oauth02"), QString("Signed in with Test provider."));
        QCOMPARE(bearer_login(BearerMechanism::XOAuth2, "oauth02", ready_token("oauth02"), true),
                 kLoggedIn);
    }

    // Nothing is stored unless the user consents, and a copy without a client
    // id says so instead of opening a page that fails.
    void unfinished_sign_ins_store_nothing() {
        QVERIFY(sign_in("oauth04", "deny").startsWith("Test provider did not grant access"));
        QCOMPARE(program_->sessions.stored_state(account("oauth04")), StoredToken::Missing);

        Program hasty(6000);
        plan("close", "oauth04");
        const SignInResult closed = hasty.sessions.sign_in(account("oauth04"));
        QCOMPARE(closed.status, SignInResult::TimedOut);
        QCOMPARE(hasty.sessions.stored_state(account("oauth04")), StoredToken::Missing);

        const int pages = pages_opened();
        hasty.folder.write(kProvidersFileName, providers_file(""));
        const SignInResult unregistered = hasty.sessions.sign_in(account("oauth05"));
        QCOMPARE(unregistered.status, SignInResult::NoClientId);
        QVERIFY(unregistered.message.startsWith(
            "This copy of Ostrel has no client id for Test provider. Register Ostrel with Test "
            "provider and write the client id in "));
        QCOMPARE(hasty.sessions.sign_in({"pop.example.org", "oauth05"}).status,
                 SignInResult::NoProvider);
        QCOMPARE(pages_opened(), pages);
    }

    // No token reaches the data folder: the log, the providers file, anything
    // but the tokens file (which the keyring made unnecessary here).
    void no_token_in_the_data_folder() {
        secrets_.removeAll(QString());
        QVERIFY(secrets_.size() >= 8);
        QVERIFY(!program_->folder.exists(kTokensFileName));
        for (QDirIterator files(program_->folder.path(), QDir::Files); files.hasNext();) {
            QFile file(files.next());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QString content = QString::fromUtf8(file.readAll());
            for (const QString& secret : qAsConst(secrets_)) {
                QVERIFY2(!content.contains(secret), qPrintable(file.fileName()));
            }
        }
    }
};

int main(int argc, char** argv) {
    // QDesktopServices opens pages on a real platform only: the session's display.
    if (in_session()) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QGuiApplication app(argc, argv);
    SignInBrowserTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "sign_in_browser_test.moc"
