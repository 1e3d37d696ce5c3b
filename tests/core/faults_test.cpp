// Data files that vanish, turn into folders or meet a full disk at the moment
// they are read or written: a clear line or message, no crash, nothing lost.
// Hostile account fields and server texts: nothing injected into the POP3
// dialogue, no forged log line.
#include <unistd.h>
#include <QLineEdit>
#include <QProcess>
#include <QStorageInfo>
#include <QTextEdit>
#include <QtTest>
#include <memory>

#include "config/account_fields.h"
#include "config/accounts_file.h"
#include "config/form9.h"
#include "config/general_form.h"
#include "desktop/menu1.h"
#include "support/scripted_pop3_server.h"
#include "support/startup_fixture.h"

using namespace ostrel;
using testing::ScriptedPop3Server;
using testing::ScriptedReply;
using testing::StartupFixture;
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

// A scripted mailbox of `count` messages beside a main window with short time-outs.
struct Mailbox {
    explicit Mailbox(int count) { server.responder = ScriptedPop3Server::mailbox(messages(count)); }
    ScriptedPop3Server server;
    StartupFixture start{testing::check_timings(400)};
};

// A loaded main window with short time-outs and `accounts` as its accounts file.
void load(StartupFixture& start, const QByteArray& accounts) {
    QVERIFY(start.load());
    start.folder.write("lumetta_pop.cfg", accounts);
}

void replace_by_folder(const StartupFixture& start, const QString& name) {
    QFile::remove(start.folder.file(name));
    QVERIFY(QDir(start.folder.path()).mkdir(name));
}

QMap<QString, QByteArray> files_except(const StartupFixture& start, const QString& skipped) {
    QMap<QString, QByteArray> files;
    for (const QString& name : QDir(start.folder.path()).entryList(QDir::Files)) {
        if (name != skipped && name != QLatin1String("logfile.txt") && name != "filler") {
            files[name] = start.folder.read(name);
        }
    }
    return files;
}

// A tiny tmpfs over the program folder, so that a full disk or a read-only
// folder can be staged even for root.
class TinyDisk {
public:
    explicit TinyDisk(const QString& folder, const QString& options = QStringLiteral("size=64k"))
        : folder_(folder) {
        if (::geteuid() != 0) {
            return;
        }
        mounted_ =
            QProcess::execute("mount", {"-t", "tmpfs", "-o", options, "tmpfs", folder_}) == 0;
    }
    ~TinyDisk() {
        if (mounted_) {
            QProcess::execute("umount", {folder_});
        }
    }
    bool mounted() const { return mounted_; }

    // Writes filler until the disk refuses another byte.
    void fill() const {
        QFile filler(folder_ + QStringLiteral("/filler"));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
            return;
        }
        while (filler.write("f", 1) == 1) {
        }
    }

private:
    QString folder_;
    bool mounted_ = false;
};

}  // namespace

class FaultsTest : public QObject {
    Q_OBJECT
private slots:
    void program_folder_unusable_at_first_start() {
        StartupFixture start;
        TinyDisk disk(start.folder.path(), QStringLiteral("ro,size=64k"));
        if (!disk.mounted()) {
            QSKIP("a read-only program folder needs root and a tmpfs mount; neither is available");
        }
        QVERIFY(start.load());
        QCOMPARE(start.form->tray().shown_image(), TrayImage::Error);
        QVERIFY(!QFile::exists(start.autostart_entry()));
        QVERIFY(QDir(start.folder.path()).isEmpty());
        start.form->executa2();
        QVERIFY(!start.form->check_running());
    }

    void check_with_an_unusable_data_file_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("as_folder");
        QTest::addColumn<QString>("expected");
        QTest::newRow("accounts deleted") << "lumetta_pop.cfg" << false << "cannot open";
        QTest::newRow("accounts a folder") << "lumetta_pop.cfg" << true << "cannot open";
        QTest::newRow("seen state a folder") << ".svr" << true << "Fatal Err 005 cannot read";
    }
    void check_with_an_unusable_data_file() {
        QFETCH(QString, file);
        QFETCH(bool, as_folder);
        QFETCH(QString, expected);
        Mailbox mailbox(2);
        auto& [server, start] = mailbox;
        load(start, account_line(server));
        const QString name = file == ".svr" ? server.address() + file : file;
        QFile::remove(start.folder.file(name));
        if (as_folder) {
            replace_by_folder(start, name);
        }
        start.form->executa2();
        const QString log = QString::fromUtf8(start.folder.read("logfile.txt"));
        QVERIFY2(log.contains(expected), qPrintable(log));
        QVERIFY(!start.form->check_running());
        QVERIFY(start.form->Timer1->isActive());
        // Once the file is back, the next check works normally.
        QDir(start.folder.file(name)).removeRecursively();
        start.folder.write("lumetta_pop.cfg", account_line(server));
        const int commands = server.commands.size();
        start.form->executa2();
        QCOMPARE(server.commands.mid(commands).last(), QByteArray("TOP 2 0"));
        QVERIFY(start.folder.read(server.address() + ".svr").contains("subject number 2"));
    }

    void accounts_rewritten_while_a_check_reads_them() {
        ScriptedPop3Server first;
        ScriptedPop3Server second;
        second.responder = ScriptedPop3Server::mailbox(messages(1));
        StartupFixture start(testing::check_timings(400));
        load(start, account_line(first) + account_line(second, "bob"));
        const QString path = start.folder.file("lumetta_pop.cfg");
        QStringList edits;
        const auto mailbox = ScriptedPop3Server::mailbox(messages(3));
        first.responder = [&](const QByteArray& command) {
            if (command == "STAT") {
                edits << dropAccount(path, account_key(second.address(), "bob"));
                edits << appendAccount(path, {"pop.new.org", "cy", "pw", "word"});
            }
            return mailbox(command);
        };
        start.form->executa2();
        QCOMPARE(edits, QStringList({QString(), QString()}));
        QCOMPARE(first.commands.last(), QByteArray("TOP 3 0"));
        // The check goes on with what it read at its start.
        QCOMPARE(second.commands.last(), QByteArray("TOP 1 0"));
        QCOMPARE(start.folder.read("lumetta_pop.cfg"),
                 account_line(first) + "pop.new.org<>cy<>pw<>word\r\n");
    }

    // A write that fails, because a folder stands where the file was or the
    // disk is full: the old files stay whole, no temporary file is left, and
    // a window's user is told.
    void failed_write_keeps_the_old_files_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("folder");   // the file replaced by a folder; "": a full disk
        QTest::addColumn<QString>("message");  // how the box begins; "": no box
        const auto row = [](const char* name, const char* action, const char* folder,
                            const char* message) {
            QTest::newRow(name) << QString(action) << QString(folder) << QString(message);
        };
        const char* options = "The options were not saved";
        const char* account = "The account was not saved";
        row("options Save, settings a folder", "options", "general.cfg", options);
        row("Clear Log, log a folder", "log", "logfile.txt", "The log");
        row("editor Save, accounts a folder", "editor", "lumetta_pop.cfg", account);
        row("full disk: seen state after a check", "seen", "", "");
        row("full disk: account dropped", "drop", "", "");
        row("full disk: account replaced", "replace", "", "");
        row("full disk: editor Save", "editor", "", account);
        row("full disk: options Save", "options", "", options);
        row("full disk: Clear Log", "log", "", "The log");
    }
    void failed_write_keeps_the_old_files() {
        QFETCH(QString, action);
        QFETCH(QString, folder);
        QFETCH(QString, message);
        Mailbox mailbox(60);
        auto& [server, start] = mailbox;
        std::unique_ptr<TinyDisk> disk;
        if (folder.isEmpty()) {
            disk = std::make_unique<TinyDisk>(start.folder.path());
            if (!disk->mounted()) {
                QSKIP("a full disk needs root and a tmpfs mount; neither is available here");
            }
        }
        QVERIFY(start.load());
        // Long enough that a rewrite needs more room than the disk's last block.
        QByteArray accounts = account_line(server);
        for (int k = 0; action != "seen" && k < 20; ++k) {
            accounts += "pop" + QByteArray::number(k) + ".example.org<>ann<>secret<>\r\n";
        }
        start.folder.write("lumetta_pop.cfg", accounts);
        start.folder.write(server.address() + ".svr", "01-01-2026 00:00:00 a@x old subject\r\n");
        const QByteArray old_log = start.folder.read("logfile.txt");
        const auto before = files_except(start, folder);
        if (disk) {
            disk->fill();
            QCOMPARE(QStorageInfo(start.folder.path()).bytesAvailable(), 0);
        } else {
            replace_by_folder(start, folder);
        }

        const QString path = start.folder.file("lumetta_pop.cfg");
        const PopAccount long_login{"pop3.example.org", QString(4000, 'l'), "pw", ""};
        if (action == "seen") {
            start.form->executa2();
            QCOMPARE(server.commands.last(), QByteArray("TOP 60 0"));
        } else if (action == "drop") {
            QVERIFY(!dropAccount(path, "pop3.example.org<>ann").isEmpty());
        } else if (action == "replace") {
            QVERIFY(!replace_account(path, "pop3.example.org<>ann", long_login).isEmpty());
        } else if (action == "options") {
            GeneralForm options(start.form->context(), start.form->program_path());
            options.load();
            options.Text1->setText(QString(9000, '7'));
            options.save();
            QCOMPARE(start.form->state().start_with_windows, QString("1"));
        } else if (action == "log") {
            Menu1 viewer(start.form->context(), {});
            viewer.load();
            viewer.clear_log();
        } else {
            Form9 editor(start.form->context(), start.form->passwords());
            editor.load();
            editor.Text3->setText("pop.other.org");
            editor.Text6->setText(long_login.login);
            editor.save();
            QVERIFY(!start.folder.exists("pop.other.org.svr"));
        }
        QCOMPARE(start.prompts.size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty()) {
            QVERIFY2(start.prompts.first().startsWith(message), qPrintable(start.prompts.first()));
        }
        if (!folder.isEmpty() && action != "log") {
            QVERIFY(start.folder.read("logfile.txt").contains(message.toUtf8()));
        }
        if (folder != "logfile.txt") {
            // A failure may still find room in the log's last block; the old lines stay.
            QVERIFY(start.folder.read("logfile.txt").startsWith(old_log));
        }
        QCOMPARE(files_except(start, folder), before);
        QVERIFY(folder.isEmpty() || QFileInfo(start.folder.file(folder)).isDir());
        QVERIFY(!start.form->check_running());
    }

    void line_breaks_in_fields_reach_no_wire_data() {
        QTest::addColumn<QByteArray>("login");
        QTest::addColumn<QByteArray>("password");
        QTest::newRow("password LF") << QByteArray("ann") << QByteArray("secret\nDELE 1");
        QTest::newRow("login LF first") << QByteArray("\nDELE 1") << QByteArray("secret");
        QTest::newRow("both") << QByteArray("a\nQUIT") << QByteArray("b\nDELE 2");
    }
    void line_breaks_in_fields_reach_no_wire() {
        QFETCH(QByteArray, login);
        QFETCH(QByteArray, password);
        Mailbox mailbox(1), next(0);
        auto& [server, start] = mailbox;
        load(start, server.address().toUtf8() + "<>" + login + "<>" + password + "<>\r\n" +
                        account_line(next.server, "bob"));
        start.form->executa2();
        QCOMPARE(server.connections, 0);
        QVERIFY(server.commands.isEmpty());
        QCOMPARE(next.server.connections, 1);
        const QByteArray log = start.folder.read("logfile.txt");
        QCOMPARE(log.count("Err 001"), 1);
        QVERIFY(!log.contains("secret"));
        QVERIFY(!start.form->check_running());
    }

    void a_carriage_return_ends_the_account_line() {
        // CR ends a line in the accounts file, so "pw\rDELE 1" is a short
        // line followed by a bad one: nothing past the first line is sent.
        Mailbox mailbox(0);
        auto& [server, start] = mailbox;
        load(start, server.address().toUtf8() + "<>ann<>pw\rDELE 1<>\r\n");
        start.form->executa2();
        for (const QByteArray& command : server.commands) {
            QVERIFY2(!command.contains("DELE"), command.constData());
        }
        QVERIFY(!start.form->check_running());
    }

    void server_error_text_cannot_split_a_log_line() {
        ScriptedPop3Server server;
        for (const char* reply : {"+OK\r\n", "+OK\r\n", "+OK\r\n", "+OK 1 10\r\n"}) {
            server.queue << ScriptedReply::text(reply);
        }
        server.queue << ScriptedReply::close("+OK\r\nFrom: a@x\rforged\n");
        StartupFixture start(testing::check_timings(400));
        load(start, account_line(server));
        start.form->executa2();
        const QByteArray log = start.folder.read("logfile.txt");
        QCOMPARE(log.count("\r\n"), log.count('\n'));
        QCOMPARE(log.count('\r'), log.count('\n'));
        QVERIFY(!log.contains("\nforged"));
    }
};

QTEST_MAIN(FaultsTest)
#include "faults_test.moc"
