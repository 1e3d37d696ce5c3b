// Signing in as a person does, and checking mail with it: the accounts editor
// and the check on the program's own sign-in parts, the test provider
// (scripts/oauth-test-server), headless Chromium as the session's default
// browser (scripts/browser-session) going through its sign-in and consent
// pages, GNOME Keyring keeping the refresh tokens (scripts/keyring-session),
// and Dovecot taking the access tokens over TLS. Users oauth01 .. oauth06.
#include <QApplication>
#include <QDesktopServices>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpSocket>
#include <QTreeWidget>
#include <QtTest>

#include "app/sign_in_parts.h"
#include "config/form9.h"
#include "core/resources.h"
#include "notify/nota_form.h"
#include "support/check_fixture.h"
#include "support/dovecot_fixture.h"

using namespace ostrel;
using testing::DovecotFixture;

namespace {

bool in_session() {
    return qEnvironmentVariable("OSTREL_BROWSER_SESSION") == QLatin1String("1") &&
           qEnvironmentVariable("OSTREL_KEYRING_SESSION") == QLatin1String("1") &&
           !qEnvironmentVariableIsEmpty("OSTREL_OAUTH_ISSUER");
}

QString env(const char* name) {
    return qEnvironmentVariable(name);
}
QString dovecot(const char* kind) {
    return env("OSTREL_OAUTH_DOVECOT_HOST") + ':' +
           env((QByteArray("OSTREL_OAUTH_DOVECOT_") + kind + "_PORT").constData());
}
QByteArray providers_file(const QString& client_id) {
    return QStringLiteral(
               "[Test provider]\nservers = %1\nauthorization url = %2/auth\n"
               "token url = %2/token\nrevocation url = %2/token/revocation\n"
               "scope = %3\nclient id = %4\n")
        .arg(env("OSTREL_OAUTH_DOVECOT_HOST"), env("OSTREL_OAUTH_ISSUER"),
             env("OSTREL_OAUTH_SCOPE"), client_id)
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

// Long enough for a TLS handshake and the token's introspection on a loaded machine.
constexpr int kWaitMs = 15000;

const QString kSignedIn = QStringLiteral("Signed in with Test provider.");

// The program: a check, the accounts editor and the sign-in parts as the main
// window puts them together, on the session's keyring and browser. Access
// tokens are renewed when they have less than a second left.
struct Program : testing::CheckFixture {
    Program()
        : CheckFixture(kWaitMs,
                       {quint16(dovecot("TLS").section(':', 1).toUInt()),
                        QSslCertificate::fromPath(env("OSTREL_TEST_CERTS") + "/ca.pem")},
                       5000,
                       [this](const QString& server, const QString& login, bool renew) {
                           return parts.check_tokens()(server, login, renew);
                       }),
          parts(
              passwords, files, log, [this](const QUrl& url) { return open(url); }, 30000, 1),
          editor(context, passwords, &parts.editor) {
        answer = PromptAnswer::Yes;
        folder.write(kProvidersFileName, providers_file(env("OSTREL_OAUTH_CLIENT_ID")));
        write_accounts(
            QStringLiteral("%1<>oauth01<><>zzz\r\n%2<>oauth02<><>zzz\r\n%1<>oauth03<><>zzz\r\n")
                .arg(dovecot("TLS"), dovecot("STLS"))
                .toUtf8());
        editor.load();
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

    QTreeWidgetItem* row(const QString& login) const {
        const auto rows = editor.lista->findItems(login, Qt::MatchExactly, 1);
        return rows.isEmpty() ? nullptr : rows.first();
    }
    QString server_of(const QString& login) const { return row(login)->text(0); }
    void select(const QString& login) { editor.lista->setCurrentItem(row(login)); }
    // Selects the account in the editor and presses Command5 with the
    // person at the browser doing `action`; what the editor then says.
    QString press_sign_in(const QString& login, const QString& action = "allow") {
        select(login);
        plan(action, login);
        editor.Command5->click();
        return editor.Label5->text();
    }
    StoredToken refresh_token(const QString& login) {
        return parts.store.read(token_entry(server_of(login), login));
    }
    QString access_token(const QString& login) {
        return parts.sessions.access_token({server_of(login), login}).token;
    }
    SignInParts parts;
    Form9 editor;
    QUrl opened;
    bool redirect_elsewhere = false;
};

}  // namespace

class SignInBrowserTest : public QObject {
    Q_OBJECT

    std::unique_ptr<Program> program_;
    QStringList secrets_;  // every token seen, for the last test

    void note_tokens(const QStringList& logins) {
        for (const QString& login : logins) {
            secrets_ << program_->access_token(login) << program_->refresh_token(login).token;
        }
    }
    // Each account's mail is one message whose subject is its login; the
    // search word "zzz" keeps popups for it away.
    QStringList read_in_check() {
        program_->run();
        QStringList read;
        for (const char* login : {"oauth01", "oauth02", "oauth03"}) {
            if (program_->trace().contains(QString(" - ") + login)) {
                read << login;
            }
        }
        return read;
    }

private slots:
    void initTestCase() {
        if (!in_session()) {
            QSKIP(
                "needs scripts/oauth-test-server's environment inside scripts/keyring-session "
                "and scripts/browser-session (scripts/test runs it so)");
        }
        init_resources();
        // The signed-in users' mailboxes are the token Dovecot's.
        qputenv("OSTREL_DOVECOT_HOME", qgetenv("OSTREL_OAUTH_DOVECOT_HOME"));
        for (const char* login : {"oauth01", "oauth02", "oauth03"}) {
            QCOMPARE(DovecotFixture::fill(login, {DovecotFixture::message("a@b", login)}),
                     QString());
        }
        program_ = std::make_unique<Program>();
    }

    // Signed in from the editor, the accounts are checked over implicit TLS
    // and after STLS.
    void sign_in_in_the_editor_and_check() {
        Program& program = *program_;
        program.select("oauth01");
        QCOMPARE(program.editor.Command5->text(), QString("Sign in\u2026"));
        const int pages = pages_opened();
        for (const char* login : {"oauth01", "oauth02", "oauth03"}) {
            QCOMPARE(program.press_sign_in(login), kSignedIn);
        }
        QTRY_COMPARE(pages_opened(), pages + 3);
        QCOMPARE(program.editor.Command5->text(), QString("Sign out"));
        const QUrlQuery asked(program.opened);
        QVERIFY(asked.queryItemValue("redirect_uri", QUrl::FullyDecoded)
                    .startsWith("http://127.0.0.1:"));
        QVERIFY(!program.redirect_elsewhere);
        QCOMPARE(asked.queryItemValue("code_challenge_method"), QString("S256"));
        QCOMPARE(asked.queryItemValue("code_challenge").size(), 43);
        QCOMPARE(asked.queryItemValue("state").size(), 43);
        QCOMPARE(asked.queryItemValue("login_hint"), QString("oauth03"));
        QVERIFY(!program.folder.exists(kTokensFileName));  // the keyring holds them

        QCOMPARE(read_in_check(), QStringList({"oauth01", "oauth02", "oauth03"}));
        // Nothing logged but the notes on the security files: both verified, one STLS mark.
        QCOMPARE(program.log_text().count("\r\n"), 3);
        QCOMPARE(program.log_text().count(" is kept in " + program.folder.path()), 3);
        QVERIFY(program.prompts.isEmpty());
        QVERIFY(program.folder.read(program.server_of("oauth02") + ".tls").contains("STLS"));
        note_tokens({"oauth01", "oauth02", "oauth03"});
    }

    // The access tokens expire between checks and are renewed without the
    // browser. A sign-in the provider revoked is told once (a log line and a
    // notice) over two checks while the others are read; signing it in
    // again replaces its tokens and resumes it.
    void tokens_over_time() {
        Program& program = *program_;
        const int pages = pages_opened();
        const QString log_before = program.log_text();
        const QString expiring = program.access_token("oauth01");
        const QString revoked = program.refresh_token("oauth03").token;
        QCOMPARE(program.parts.endpoint.revoke(
                     *program.parts.providers.for_server(program.server_of("oauth03")), revoked),
                 QString());
        QTest::qWait(qEnvironmentVariableIntValue("OSTREL_OAUTH_ACCESS_TTL") * 1000 + 500);

        for (int check = 0; check < 2; ++check) {
            QCOMPARE(read_in_check(), QStringList({"oauth01", "oauth02"}));
        }
        QVERIFY(program.access_token("oauth01") != expiring);
        const QString logged = program.log_text().mid(log_before.size());
        QCOMPARE(logged.count("\r\n"), 1);
        QVERIFY2(logged.contains(program.server_of("oauth03") +
                                 ": the provider no longer accepts the sign-in of oauth03@" +
                                 program.server_of("oauth03") +
                                 "; sign it in again; until then the account is not checked"),
                 qPrintable(logged));
        QCOMPARE(program.notes.open_count(), 1);
        QCOMPARE(program.notes.newest()->Label2->text(), QString("Sign in again"));
        QCOMPARE(program.notes.newest()->Label3->text(), "oauth03@" + program.server_of("oauth03"));
        QVERIFY(program.prompts.isEmpty());
        QCOMPARE(pages_opened(), pages);

        program.select("oauth03");
        program.editor.Command3->click();
        QCOMPARE(program.editor.Text7->placeholderText(),
                 QString("sign in again with Test provider"));
        program.editor.Command1->click();
        QCOMPARE(program.press_sign_in("oauth03"), kSignedIn);
        QTRY_COMPARE(pages_opened(), pages + 1);
        QVERIFY(program.refresh_token("oauth03").token != revoked);
        QCOMPARE(read_in_check(), QStringList({"oauth01", "oauth02", "oauth03"}));
        QCOMPARE(program.log_text(), log_before + logged);
        note_tokens({"oauth01", "oauth02", "oauth03"});
    }

    // A sign-in follows its account when the account is renamed, and goes
    // (revoked at the provider) when it is signed out or deleted.
    void renamed_signed_out_and_deleted() {
        Program& program = *program_;
        const std::optional<OAuthProvider> provider =
            program.parts.providers.for_server(dovecot("TLS"));
        program.select("oauth02");
        program.editor.Command3->click();
        const QString old_server = program.editor.Text3->text();
        program.editor.Text3->setText(dovecot("TLS"));
        program.editor.Command1->click();
        QCOMPARE(program.parts.store.read(token_entry(old_server, "oauth02")).status,
                 StoredToken::Missing);
        QCOMPARE(read_in_check(), QStringList({"oauth01", "oauth02", "oauth03"}));

        const QString signed_out = program.refresh_token("oauth01").token;
        program.select("oauth01");
        program.editor.Command5->click();
        QCOMPARE(program.editor.Label5->text(), QString("Signed out."));
        QCOMPARE(program.editor.Command5->text(), QString("Sign in\u2026"));
        const QString deleted = program.refresh_token("oauth03").token;
        program.select("oauth03");
        program.editor.Command2->click();  // "Are You shure ?" is answered Yes
        for (const QString& token : {signed_out, deleted}) {
            QCOMPARE(program.parts.endpoint.refresh(*provider, token).status, TokenReply::Refused);
        }
        QCOMPARE(program.parts.store.read(token_entry(dovecot("TLS"), "oauth01")).status,
                 StoredToken::Missing);
        QCOMPARE(program.parts.store.read(token_entry(dovecot("TLS"), "oauth03")).status,
                 StoredToken::Missing);
    }

    // Nothing is stored unless the user consents: the editor says why not.
    // A person who closed the browser presses Cancel. A copy without a client
    // id says so instead of opening a page; a server that no provider serves
    // is offered no sign-in.
    void unfinished_sign_ins_store_nothing() {
        Program& program = *program_;
        program.write_accounts(QStringLiteral("%1<>oauth04<><>\r\npop.example.org<>x<>pw<>\r\n")
                                   .arg(dovecot("TLS"))
                                   .toUtf8());
        program.editor.load();
        int pages = pages_opened();
        QVERIFY(program.press_sign_in("oauth04", "deny")
                    .startsWith("Test provider did not grant access (the user denied access)"));
        QTRY_COMPARE(pages_opened(), pages + 1);
        pages = pages_opened();
        QTimer cancel_once_closed;
        QObject::connect(&cancel_once_closed, &QTimer::timeout, [&] {
            if (pages_opened() > pages) {
                QCOMPARE(program.editor.Command5->text(), QString("Cancel"));
                QVERIFY(!program.editor.lista->isEnabled());
                cancel_once_closed.stop();
                program.editor.Command5->click();
            }
        });
        cancel_once_closed.start(100);
        QCOMPARE(program.press_sign_in("oauth04", "close"),
                 QString("The sign-in was cancelled; nothing was stored."));
        QCOMPARE(program.refresh_token("oauth04").status, StoredToken::Missing);

        pages = pages_opened();
        program.folder.write(kProvidersFileName, providers_file(""));
        QVERIFY(program.press_sign_in("oauth04").startsWith(
            "This copy of Ostrel has no client id for Test provider. Register Ostrel with Test "
            "provider and write the client id in "));
        QCOMPARE(pages_opened(), pages);
        program.select("x");
        QVERIFY(program.editor.Command5->isHidden());
    }

    // An IMAP account signs in as a POP3 one does and is read with
    // AUTHENTICATE over implicit TLS; a server that offers XOAUTH2 alone,
    // after STLS, is read with it.
    void imap_and_xoauth2_accounts() {
        Program& program = *program_;
        program.folder.write(kProvidersFileName, providers_file(env("OSTREL_OAUTH_CLIENT_ID")));
        program.write_accounts(
            QStringLiteral("imaps://%1<>oauth05<><>zzz\r\n%2<>oauth06<><>zzz\r\n")
                .arg(dovecot("IMAPS"), dovecot("XOAUTH2"))
                .toUtf8());
        program.editor.load();
        for (const char* login : {"oauth05", "oauth06"}) {
            QCOMPARE(DovecotFixture::fill(login, {DovecotFixture::message("a@b", login)}),
                     QString());
            QCOMPARE(program.press_sign_in(login), kSignedIn);
        }
        program.run();
        const QString trace = program.trace();
        QVERIFY2(trace.contains(" - oauth05") && trace.contains(" - oauth06"),
                 qPrintable(trace + program.log_text()));
        note_tokens({"oauth05", "oauth06"});
    }

    // No token reaches the data folder: the log, the accounts, the seen state,
    // the security files, anything (the keyring made the tokens file unneeded).
    void no_token_in_the_data_folder() {
        secrets_.removeAll(QString());
        QVERIFY(secrets_.size() >= 10);
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
    QApplication app(argc, argv);
    SignInBrowserTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "sign_in_browser_test.moc"
