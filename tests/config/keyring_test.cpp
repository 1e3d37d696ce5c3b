#include <QtDBus>
#include <QtTest>
#include <QtWidgets>

#include "config/form9.h"
#include "config/password_store.h"
#include "support/check_fixture.h"
#include "support/scripted_pop3_server.h"

using namespace ostrel;
using testing::ScriptedPop3Server;

namespace {

constexpr int kKeyringTimeoutMs = 1500;

// A check whose keyring requests give up after a short while, and the
// accounts editor on the same keyring.
struct Keyring : testing::CheckFixture {
    explicit Keyring(const QByteArray& accounts)
        : CheckFixture(2000, {kPop3TlsPort, {}}, kKeyringTimeoutMs) {
        write_accounts(accounts);
        editor = std::make_unique<Form9>(context, passwords);
        editor->load();
    }
    void save(const QString& server, const QString& login, const QString& password) {
        editor->Text3->setText(server);
        editor->Text6->setText(login);
        editor->Text7->setText(password);
        editor->save();
    }
    QByteArray file() const { return folder.read("lumetta_pop.cfg"); }

    std::unique_ptr<Form9> editor;
};

QByteArray line(const ScriptedPop3Server& server, const QByteArray& login,
                const QByteArray& password) {
    return server.address().toUtf8() + "<>" + login + "<>" + password + "<>\r\n";
}

bool in_keyring_session() {
    return qEnvironmentVariable("OSTREL_KEYRING_SESSION") == "1";
}

}  // namespace

class KeyringTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        if (!in_keyring_session() && QTest::currentTestFunction() != QLatin1String("no_keyring")) {
            QSKIP("needs a Secret Service: run inside scripts/keyring-session");
        }
    }

    // The old file format checks mail; Save moves every password of the file
    // into the keyring, and the next check takes them from there.
    void save_moves_passwords_and_checks_read_them() {
        ScriptedPop3Server old_server, new_server;
        old_server.responder = new_server.responder = ScriptedPop3Server::mailbox({});
        Keyring keyring(line(old_server, "ann", "old pw"));
        keyring.run();
        QVERIFY(old_server.commands.contains("PASS old pw"));

        keyring.save(new_server.address(), "bob", "new pw");
        QCOMPARE(keyring.file(), line(old_server, "ann", "") + line(new_server, "bob", ""));
        QCOMPARE(keyring.passwords.read("ann@" + old_server.address()).password, "old pw");
        QVERIFY(keyring.prompts.isEmpty());

        old_server.commands.clear();
        keyring.run();
        QVERIFY(old_server.commands.contains("PASS old pw"));
        QVERIFY(new_server.commands.contains("PASS new pw"));
        QVERIFY2(!keyring.log_text().contains("pw"), qPrintable(keyring.log_text()));

        // Edit shows where the password is; a new login takes it along.
        keyring.editor->lista->topLevelItem(1)->setSelected(true);
        keyring.editor->edit();
        QCOMPARE(keyring.editor->Text7->placeholderText(), "kept in the keyring");
        keyring.editor->Text6->setText("bobby");
        keyring.editor->save();
        QCOMPARE(keyring.passwords.read("bobby@" + new_server.address()).password, "new pw");
        QCOMPARE(keyring.passwords.read("bob@" + new_server.address()).status,
                 KeyringResult::NotFound);
    }

    void an_account_the_keyring_cannot_give_is_logged_and_skipped() {
        ScriptedPop3Server missing, next;
        missing.responder = next.responder = ScriptedPop3Server::mailbox({});
        Keyring keyring(line(missing, "nobody", "") + line(next, "ann", "pw"));
        keyring.run();
        QCOMPARE(missing.connections, 0);
        QVERIFY(next.commands.contains("PASS pw"));
        const QString why = "nobody@" + missing.address() +
                            " was not read from the keyring (the "
                            "keyring holds no password for it), so the account was not checked";
        QVERIFY2(keyring.log_text().contains(why), qPrintable(keyring.log_text()));

        // A request that outlives its wait ends as timed out; its late
        // answer harms nothing.
        PasswordStore hasty(0);
        QCOMPARE(hasty.read("ann@" + next.address()).status, KeyringResult::TimedOut);
        QVERIFY(keyring.passwords.write("ann@" + next.address(), "pw").done());
    }

    // Runs last: the keyring stays locked.
    void a_locked_keyring_ends_in_a_log_line_not_a_hang() {
        ScriptedPop3Server server;
        server.responder = ScriptedPop3Server::mailbox({});
        Keyring keyring{QByteArray()};
        keyring.save(server.address(), "cy", "cy pw");
        QDBusInterface service("org.freedesktop.secrets", "/org/freedesktop/secrets",
                               "org.freedesktop.Secret.Service");
        const QDBusMessage locked = service.call(
            "Lock", QVariant::fromValue(QList<QDBusObjectPath>{
                        QDBusObjectPath("/org/freedesktop/secrets/collection/login")}));
        QCOMPARE(locked.type(), QDBusMessage::ReplyMessage);

        keyring.run();
        QCOMPARE(server.connections, 0);
        QVERIFY2(keyring.log_text().contains(server.address() + ": the password of cy@" +
                                             server.address() + " was not read from the keyring ("),
                 qPrintable(keyring.log_text()));
        QVERIFY(!keyring.log_text().contains("cy pw"));

        // Save keeps the password in the file and says why.
        keyring.save("pop.d", "dee", "dee pw");
        QVERIFY(keyring.file().endsWith("pop.d<>dee<>dee pw<>\r\n"));
        QCOMPARE(keyring.prompts.size(), 1);
        QVERIFY(keyring.prompts[0].startsWith("The passwords stay in the accounts file.\n"));
    }

    // Without a session bus (a child of this test, started without one) the
    // passwords stay in the file and the editor says so once.
    void no_keyring() {
        if (in_keyring_session()) {
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove("OSTREL_KEYRING_SESSION");
            env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/no-bus");
            child.setProcessEnvironment(env);
            child.start(QCoreApplication::applicationFilePath(), {"no_keyring"});
            QVERIFY(child.waitForFinished(60000));
            QVERIFY2(child.exitCode() == 0, child.readAll().constData());
            return;
        }
        Keyring keyring{QByteArray()};
        keyring.save("pop.a", "ann", "pa");
        keyring.save("pop.b", "bob", "pb");
        QCOMPARE(keyring.file(), QByteArray("pop.a<>ann<>pa<>\r\npop.b<>bob<>pb<>\r\n"));
        QCOMPARE(keyring.prompts,
                 QStringList{"No keyring (Secret Service) runs on this desktop, so the passwords "
                             "stay in the accounts file, which only you can read. Start GNOME "
                             "Keyring or KWallet and save again to move them into the keyring."});
    }
};

QTEST_MAIN(KeyringTest)
#include "keyring_test.moc"
