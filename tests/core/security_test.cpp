// Hostile account fields and server texts: nothing injected into the POP3
// dialogue, no file outside the program folder, an owner-only accounts file
// and log lines that cannot be forged.
#include <QLineEdit>
#include <QTextEdit>
#include <QTreeWidget>
#include <QtTest>

#include "config/accounts_file.h"
#include "config/form9.h"
#include "notify/mail_evaluation.h"
#include "pop3/display_text.h"
#include "support/scripted_pop3_server.h"
#include "support/startup_fixture.h"

using namespace ostrel;
using testing::ScriptedPop3Server;
using testing::StartupFixture;
using testing::top_reply;

namespace {

constexpr QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions kAnyone = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                       QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                       QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;

QFile::Permissions mode_of(const QString& path) {
    return QFileInfo(path).permissions() & kAnyone;
}

// Every file and folder under `folder`, relative to it.
QStringList tree(const QString& folder) {
    QStringList names;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        names << QDir(folder).relativeFilePath(it.next());
    }
    names.sort();
    return names;
}

}  // namespace

class SecurityTest : public QObject {
    Q_OBJECT
private slots:
    void line_breaks_in_fields_reach_no_wire_data() {
        QTest::addColumn<QByteArray>("login");
        QTest::addColumn<QByteArray>("password");
        QTest::newRow("password LF") << QByteArray("ann") << QByteArray("secret\nDELE 1");
        QTest::newRow("password LF at end") << QByteArray("ann") << QByteArray("secret\n");
        QTest::newRow("login LF first") << QByteArray("\nDELE 1") << QByteArray("secret");
        QTest::newRow("both") << QByteArray("a\nQUIT") << QByteArray("b\nDELE 2");
    }
    void line_breaks_in_fields_reach_no_wire() {
        QFETCH(QByteArray, login);
        QFETCH(QByteArray, password);
        ScriptedPop3Server server;
        server.responder = ScriptedPop3Server::mailbox({top_reply("a@x", "s")});
        ScriptedPop3Server next;
        next.responder = ScriptedPop3Server::mailbox({});
        StartupFixture start(testing::check_timings(400));
        QVERIFY(start.load());
        start.folder.write("lumetta_pop.cfg", server.address().toUtf8() + "<>" + login + "<>" +
                                                  password + "<>\r\n" + next.address().toUtf8() +
                                                  "<>bob<>pw<>\r\n");
        start.form->executa2();
        QCOMPARE(server.connections, 0);
        QVERIFY(server.commands.isEmpty());
        QCOMPARE(next.connections, 1);
        const QByteArray log = start.folder.read("logfile.txt");
        QCOMPARE(log.count("Err 001"), 1);
        QVERIFY(!log.contains("secret"));
        QVERIFY(!start.form->check_running());
    }

    void a_carriage_return_ends_the_account_line() {
        // CR ends a line in the accounts file, so "pw\rDELE 1" is a short
        // line followed by a bad one: nothing past the first line is sent.
        ScriptedPop3Server server;
        server.responder = ScriptedPop3Server::mailbox({});
        StartupFixture start(testing::check_timings(400));
        QVERIFY(start.load());
        start.folder.write("lumetta_pop.cfg",
                           server.address().toUtf8() + "<>ann<>pw\rDELE 1<>\r\n");
        start.form->executa2();
        for (const QByteArray& command : server.commands) {
            QVERIFY2(!command.contains("DELE"), command.constData());
        }
        QVERIFY(!start.form->check_running());
    }

    void server_texts_write_no_file_outside_the_folder_data() {
        QTest::addColumn<QString>("server");
        QTest::newRow("parent") << "../x";
        QTest::newRow("absolute") << "/tmp/x";
        QTest::newRow("sub folder") << "a/b";
        QTest::newRow("back slash") << "..\\x";
        QTest::newRow("dot dot") << "..";
        QTest::newRow("line break") << "x\n";
    }
    void server_texts_write_no_file_outside_the_folder() {
        QFETCH(QString, server);
        StartupFixture start(testing::check_timings(400));
        QVERIFY(start.load());
        QDir(start.folder.path()).mkdir("a");
        const QString parent = QFileInfo(start.folder.path()).absolutePath();
        const QStringList escapes = {parent + "/x.svr", "/tmp/x.svr", parent + "/.svr",
                                     start.folder.file("a/b.svr")};
        for (const QString& path : escapes) {
            QFile::remove(path);
        }
        const QStringList before = tree(start.folder.path());
        const QByteArray accounts = start.folder.read("lumetta_pop.cfg");

        // The editor refuses the name before anything is written.
        Form9 editor(start.form->context(), start.form->passwords());
        editor.load();
        editor.Text3->setText(server);
        editor.Text6->setText("ann");
        editor.Text7->setText("pw");
        editor.save();
        QCOMPARE(start.prompts.size(), 1);
        QCOMPARE(start.folder.read("lumetta_pop.cfg"), accounts);

        // A hand-edited file naming such a server reaches evaluation with it.
        AppState& state = start.form->state();
        state.server = server;
        state.search_words = QString();
        store_decoded(state.messages, 0, 1, "a@x", "s");
        state.msg_count = 1;
        process_headers(start.form->context(), start.form->notes(), start.form->Text1);
        state.server = server;
        state.search_words = "s";
        store_decoded(state.messages, 0, 1, "a@x", "s");
        state.msg_count = 1;
        process_headers(start.form->context(), start.form->notes(), start.form->Text1);

        for (const QString& path : escapes) {
            QVERIFY2(!QFile::exists(path), qPrintable(path));
        }
        QStringList after = tree(start.folder.path());
        QCOMPARE(after, before);
        QCOMPARE(start.folder.read("logfile.txt").count("Fatal Err 005 "), 2);
    }

    void accounts_file_stays_owner_only_data() {
        QTest::addColumn<QString>("change");
        QTest::newRow("append to a new file") << "append new";
        QTest::newRow("append to the file") << "append";
        QTest::newRow("drop") << "drop";
        QTest::newRow("editor Save") << "editor save";
        QTest::newRow("editor Save after Edit") << "editor edit";
    }
    void accounts_file_stays_owner_only() {
        QFETCH(QString, change);
        StartupFixture start;
        QVERIFY(start.load());
        const QString path = start.form->files().accounts();
        QCOMPARE(mode_of(path), kOwnerOnly);
        QVERIFY(appendAccount(path, {"pop.a.org", "ann", "pw", ""}).isEmpty());
        QVERIFY(appendAccount(path, {"pop.b.org", "bob", "pw", ""}).isEmpty());
        start.form->state().told_passwords_stay = true;  // no keyring here: asked elsewhere
        Form9 editor(start.form->context(), start.form->passwords());
        editor.load();
        if (change == QLatin1String("append new")) {
            QFile::remove(path);
            QVERIFY(appendAccount(path, {"pop.c.org", "cy", "pw", ""}).isEmpty());
        } else if (change == QLatin1String("append")) {
            QVERIFY(appendAccount(path, {"pop.c.org", "cy", "pw", ""}).isEmpty());
        } else if (change == QLatin1String("drop")) {
            QVERIFY(dropAccount(path, "pop.a.org<>ann").isEmpty());
        } else if (change == QLatin1String("editor save")) {
            editor.Text3->setText("pop.c.org");
            editor.Text6->setText("cy");
            editor.save();
        } else {
            editor.lista->setCurrentItem(editor.lista->topLevelItem(0));
            editor.lista->topLevelItem(0)->setSelected(true);
            editor.edit();
            editor.Text7->setText("new");
            editor.save();
        }
        QVERIFY(start.prompts.isEmpty());
        QVERIFY(start.folder.read("lumetta_pop.cfg") !=
                "pop.a.org<>ann<>pw<>\r\npop.b.org<>bob<>pw<>\r\n");
        QCOMPARE(mode_of(path), kOwnerOnly);
    }

    void server_name_cannot_split_a_log_line_data() {
        QTest::addColumn<QByteArray>("server");
        QTest::newRow("LF forging a line")
            << QByteArray("pop.invalid\n01-01-2026 00:00:00 - forged");
        QTest::newRow("LF to a closed port") << QByteArray("127.0.0.1:1\nFatal forged");
        QTest::newRow("trailing LF") << QByteArray("pop.invalid\n");
    }
    void server_name_cannot_split_a_log_line() {
        QFETCH(QByteArray, server);
        StartupFixture start(testing::check_timings(400));
        QVERIFY(start.load());
        start.folder.write("lumetta_pop.cfg", server + "<>ann<>pw<>\r\n");
        start.form->executa2();
        const QByteArray log = start.folder.read("logfile.txt");
        QVERIFY2(log.count("\r\n") >= 2, log.constData());
        QCOMPARE(log.count("\r\n"), log.count('\n'));
        for (const QByteArray& line : log.split('\n')) {
            QVERIFY2(line.isEmpty() || line.contains(" - "), log.constData());
            QVERIFY2(!line.startsWith("01-01-2026") && !line.startsWith("Fatal"), log.constData());
        }
    }

    void server_error_text_cannot_split_a_log_line() {
        ScriptedPop3Server server;
        server.queue << testing::ScriptedReply::text("+OK\r\n")
                     << testing::ScriptedReply::text("+OK\r\n")
                     << testing::ScriptedReply::text("+OK\r\n")
                     << testing::ScriptedReply::text("+OK 1 10\r\n")
                     << testing::ScriptedReply::close("+OK\r\nFrom: a@x\rforged\n");
        StartupFixture start(testing::check_timings(400));
        QVERIFY(start.load());
        start.folder.write("lumetta_pop.cfg", server.address().toUtf8() + "<>ann<>pw<>\r\n");
        start.form->executa2();
        const QByteArray log = start.folder.read("logfile.txt");
        QCOMPARE(log.count("\r\n"), log.count('\n'));
        QCOMPARE(log.count('\r'), log.count('\n'));
        QVERIFY(!log.contains("\nforged"));
    }
};

QTEST_MAIN(SecurityTest)
#include "security_test.moc"
