// Data files that vanish, turn into folders or meet a full disk at the moment
// they are read or written: a clear line or message, no crash, nothing lost.
#include <QLineEdit>
#include <QtTest>
#include <memory>

#include "config/account_fields.h"
#include "config/accounts_file.h"
#include "config/form9.h"
#include "config/general_form.h"
#include "desktop/menu1.h"
#include "support/check_fixture.h"
#include "support/scripted_pop3_server.h"
#include "support/tiny_disk.h"

using namespace ostrel;
using testing::ScriptedPop3Server;
using testing::TinyDisk;
using testing::top_reply;

namespace {

QByteArray account_line(const ScriptedPop3Server& server, const QByteArray& login = "ann") {
    return server.address().toUtf8() + "<>" + login + "<>secret<>\r\n";
}

QList<QByteArray> messages(int count) {
    QList<QByteArray> blocks;
    for (int k = 1; k <= count; ++k) {
        blocks << top_reply("sender" + QByteArray::number(k) + "@example.org",
                            "subject number " + QByteArray::number(k));
    }
    return blocks;
}

// A scripted mailbox of `count` messages beside a check of it.
struct Mailbox : testing::CheckFixture {
    explicit Mailbox(int count) {
        server.responder = ScriptedPop3Server::mailbox(messages(count));
        write_accounts(account_line(server));
    }
    void replace_by_folder(const QString& name) const {
        QFile::remove(folder.file(name));
        QVERIFY(QDir(folder.path()).mkdir(name));
    }
    QMap<QString, QByteArray> files_except(const QString& skipped) const {
        QMap<QString, QByteArray> files;
        for (const QString& name : QDir(folder.path()).entryList(QDir::Files)) {
            if (name != skipped && name != QLatin1String("logfile.txt") && name != "filler") {
                files[name] = folder.read(name);
            }
        }
        return files;
    }
    ScriptedPop3Server server;
};

// What a user does that rewrites a file.
using Action = void (*)(Mailbox&);

const PopAccount kLongLogin{"pop3.example.org", QString(4000, 'l'), "pw", ""};

void check_mail(Mailbox& mailbox) {
    mailbox.run();
    QCOMPARE(mailbox.server.commands.last(), QByteArray("TOP 60 0"));
}
void drop_account(Mailbox& mailbox) {
    QVERIFY(!dropAccount(mailbox.files.accounts(), "pop3.example.org<>ann").isEmpty());
}
void replace_account(Mailbox& mailbox) {
    QVERIFY(
        !replace_account(mailbox.files.accounts(), "pop3.example.org<>ann", kLongLogin).isEmpty());
}
void save_options(Mailbox& mailbox) {
    mailbox.state.start_with_windows = "1";
    GeneralForm options(mailbox.context, mailbox.folder.file("Ostrel"));
    options.load();
    options.Text1->setText(QString(9000, '7'));
    options.save();
    QCOMPARE(mailbox.state.start_with_windows, QString("1"));
}
void clear_log(Mailbox& mailbox) {
    Menu1 viewer(mailbox.context, {});
    viewer.load();
    viewer.clear_log();
}
void save_account(Mailbox& mailbox) {
    Form9 editor(mailbox.context, mailbox.passwords);
    editor.load();
    editor.Text3->setText("pop.other.org");
    editor.Text6->setText(kLongLogin.login);
    editor.save();
    QVERIFY(!mailbox.folder.exists("pop.other.org.svr"));
}

}  // namespace

Q_DECLARE_METATYPE(Action)

class FaultsTest : public QObject {
    Q_OBJECT
private slots:
    // A file name ending in "/" is replaced by a folder, any other deleted.
    void check_with_an_unusable_data_file_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("expected");
        const QString accounts = "lumetta_pop.cfg";
        QTest::newRow("accounts deleted") << accounts << "cannot open";
        QTest::newRow("accounts a folder") << accounts + '/' << "cannot open";
        QTest::newRow("seen state a folder") << QString(".svr/") << "Fatal Err 005 cannot read";
    }
    void check_with_an_unusable_data_file() {
        QFETCH(QString, file);
        QFETCH(QString, expected);
        Mailbox mailbox(2);
        QString name = file.startsWith(".svr") ? mailbox.server.address() + file : file;
        QFile::remove(mailbox.folder.file(name.remove('/')));
        if (file.endsWith('/')) {
            mailbox.replace_by_folder(name);
        }
        mailbox.run();
        QVERIFY2(mailbox.log_text().contains(expected), qPrintable(mailbox.log_text()));
        QVERIFY(mailbox.idle());
        // Once the file is back, the next check works normally.
        QDir(mailbox.folder.file(name)).removeRecursively();
        mailbox.write_accounts(account_line(mailbox.server));
        const int commands = mailbox.server.commands.size();
        mailbox.run();
        QCOMPARE(mailbox.server.commands.mid(commands).last(), QByteArray("TOP 2 0"));
        QVERIFY(
            mailbox.folder.read(mailbox.server.address() + ".svr").contains("subject number 2"));
    }

    void accounts_rewritten_while_a_check_reads_them() {
        Mailbox first(3);
        ScriptedPop3Server second;
        second.responder = ScriptedPop3Server::mailbox(messages(1));
        first.write_accounts(account_line(first.server) + account_line(second, "bob"));
        const QString path = first.files.accounts();
        QStringList edits;
        const auto mailbox = first.server.responder;
        first.server.responder = [&](const QByteArray& command) {
            if (command == "STAT") {
                edits << dropAccount(path, account_key(second.address(), "bob"));
                edits << appendAccount(path, {"pop.new.org", "cy", "pw", "word"});
            }
            return mailbox(command);
        };
        first.run();
        QCOMPARE(edits, QStringList({QString(), QString()}));
        QCOMPARE(first.server.commands.last(), QByteArray("TOP 3 0"));
        // The check goes on with what it read at its start.
        QCOMPARE(second.commands.last(), QByteArray("TOP 1 0"));
        QCOMPARE(first.folder.read("lumetta_pop.cfg"),
                 account_line(first.server) + "pop.new.org<>cy<>pw<>word\r\n");
    }

    // A write that fails, because a folder stands where the file was or the
    // disk is full: the old files stay whole, no temporary file is left, and
    // a window's user is told.
    void failed_write_keeps_the_old_files_data() {
        QTest::addColumn<Action>("action");
        QTest::addColumn<QString>("folder");   // the file replaced by a folder; "": a full disk
        QTest::addColumn<QString>("message");  // how the box begins; "": no box
        const auto row = [](const char* name, Action action, const char* folder,
                            const char* message) {
            QTest::newRow(name) << action << QString(folder) << QString(message);
        };
        const char* options = "The options were not saved";
        const char* account = "The account was not saved";
        row("options Save, settings a folder", save_options, "general.cfg", options);
        row("Clear Log, log a folder", clear_log, "logfile.txt", "The log");
        row("editor Save, accounts a folder", save_account, "lumetta_pop.cfg", account);
        row("full disk: seen state after a check", check_mail, "", "");
        row("full disk: account dropped", drop_account, "", "");
        row("full disk: account replaced", replace_account, "", "");
        row("full disk: editor Save", save_account, "", account);
        row("full disk: options Save", save_options, "", options);
        row("full disk: Clear Log", clear_log, "", "The log");
    }
    void failed_write_keeps_the_old_files() {
        QFETCH(Action, action);
        QFETCH(QString, folder);
        QFETCH(QString, message);
        Mailbox mailbox(60);
        std::unique_ptr<TinyDisk> disk;
        if (folder.isEmpty()) {
            disk = std::make_unique<TinyDisk>(mailbox.folder.path());
            if (!disk->mounted()) {
                QSKIP("a full disk needs root and a tmpfs mount; neither is available here");
            }
        }
        mailbox.log.log_event("File created!");
        mailbox.folder.write("general.cfg", "10\r\n1\r\n");
        // Long enough that a rewrite needs more room than the disk's last block.
        QByteArray accounts = account_line(mailbox.server);
        for (int k = 0; action != check_mail && k < 20; ++k) {
            accounts += "pop" + QByteArray::number(k) + ".example.org<>ann<>secret<>\r\n";
        }
        mailbox.write_accounts(accounts);
        mailbox.folder.write(mailbox.server.address() + ".svr",
                             "01-01-2026 00:00:00 a@x old subject\r\n");
        const QByteArray old_log = mailbox.folder.read("logfile.txt");
        const auto before = mailbox.files_except(folder);
        if (disk) {
            disk->fill();
        } else {
            mailbox.replace_by_folder(folder);
        }
        action(mailbox);
        QVERIFY2(message.isEmpty()
                     ? mailbox.prompts.isEmpty()
                     : mailbox.prompts.size() == 1 && mailbox.prompts.first().startsWith(message),
                 qPrintable(mailbox.prompts.join('|')));
        if (folder != "logfile.txt") {
            // A failure may still find room in the log's last block; the old lines stay.
            const QByteArray log = mailbox.folder.read("logfile.txt");
            QVERIFY(log.startsWith(old_log) &&
                    (folder.isEmpty() || log.contains(message.toUtf8())));
        }
        QCOMPARE(mailbox.files_except(folder), before);
        QVERIFY(folder.isEmpty() || QFileInfo(mailbox.folder.file(folder)).isDir());
        QVERIFY(!mailbox.driver.running());
    }
};

QTEST_MAIN(FaultsTest)
#include "faults_test.moc"
