// Without a Secret Service, refresh tokens live in an owner-only file in the
// data folder, said once per run; the file's other lines are never lost.
#include <QNetworkAccessManager>
#include <QtTest>

#include "auth/oauth_sessions.h"
#include "auth/providers_file.h"
#include "auth/token_endpoint.h"
#include "auth/token_store.h"
#include "core/event_log.h"
#include "core/secret_store.h"
#include "support/temp_folder.h"

using namespace ostrel;

class TokenStoreTest : public QObject {
    Q_OBJECT
private slots:
    void keeps_tokens_in_a_file_and_moves_them() {
        testing::TempProgramFolder folder;
        EventLog log(folder.file("logfile.txt"));
        SecretStore keyring(2000);
        TokenStore store(keyring, folder.file(kTokensFileName), log);
        const QString ann = token_entry("pop.example.com:995", "ann");
        const QString bob = token_entry("pop.example.com:995", "bob");

        QCOMPARE(store.read(ann).status, StoredToken::Missing);
        QCOMPARE(store.write(ann, "refresh-1"), QString());
        QCOMPARE(store.write(bob, "refresh-2"), QString());
        QCOMPARE(store.write(ann, "refresh-3"), QString());
        QCOMPARE(store.read(ann).token, QString("refresh-3"));
        QCOMPARE(QFile(folder.file(kTokensFileName)).permissions() & 0x0077,
                 QFileDevice::Permissions());
        QCOMPARE(QString::fromUtf8(folder.read("logfile.txt")).count("No Secret Service"), 1);

        // A line the store did not write survives every rewrite.
        folder.write(kTokensFileName, folder.read(kTokensFileName) + "someone's note\r\n");
        QCOMPARE(store.remove(ann), QString());
        QCOMPARE(store.read(ann).status, StoredToken::Missing);
        QCOMPARE(folder.read(kTokensFileName),
                 QByteArray("oauth:bob@pop.example.com:995\trefresh-2\r\nsomeone's note\r\n"));

        // A file that cannot be read is a failure, not an account without a sign-in.
        QDir(folder.path()).mkdir("unreadable");
        TokenStore blocked(keyring, folder.file("unreadable"), log);
        QCOMPARE(blocked.read(ann).status, StoredToken::Failed);
        QVERIFY(!blocked.write(ann, "x").isEmpty());

        // A renamed account takes its sign-in along, within its provider.
        folder.write(kProvidersFileName,
                     "[A]\nservers = pop.a\nauthorization url = https://a/auth\ntoken url = "
                     "https://a/token\nscope = mail\nclient id = x\n[B]\nservers = pop.b\n"
                     "authorization url = https://b/auth\ntoken url = https://b/token\n"
                     "scope = mail\nclient id = x\n");
        ProviderCatalogue providers(folder.file(kProvidersFileName), log);
        QNetworkAccessManager network;
        TokenEndpoint endpoint(network);
        SignIn browser([](const QUrl&) { return false; });
        OAuthSessions sessions(providers, store, endpoint, browser, log);
        QCOMPARE(store.write(token_entry("pop.a", "ann"), "refresh-1"), QString());

        QCOMPARE(sessions.move_sign_in({"pop.a", "ann"}, {"pop.a:995", "anne"}), QString());
        QCOMPARE(store.read(token_entry("pop.a:995", "anne")).token, QString("refresh-1"));
        QCOMPARE(sessions.stored_state({"pop.a", "ann"}), StoredToken::Missing);
        QCOMPARE(sessions.move_sign_in({"pop.a:995", "anne"}, {"pop.b", "anne"}),
                 QString("it was signed out, since its provider does not serve pop.b"));
        QCOMPARE(sessions.stored_state({"pop.b", "anne"}), StoredToken::Missing);
        QCOMPARE(sessions.stored_state({"pop.a:995", "anne"}), StoredToken::Missing);
    }
};

QTEST_GUILESS_MAIN(TokenStoreTest)
#include "token_store_test.moc"
