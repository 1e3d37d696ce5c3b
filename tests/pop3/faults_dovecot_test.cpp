// Faults a server or the network can throw at a check: each must end its
// account with a clear log line (or as an ordinary check where the server's
// nonsense is harmless), go on with the next account, leave the accounts file
// untouched, restore the state between checks, and let the next check work
// normally. The next check runs
// against Dovecot (user31) when the test server is up, else against a
// scripted server.
//
// Covered elsewhere (check_driver_test) and not repeated here: a silent
// server, a close in the middle of a header block, an endless line in a TOP
// reply, a non-numeric count, refusals of the greeting, USER and PASS.
//
// Dovecot users: user31 (shared server), user32 (a private server this test
// starts and kills).

#include <signal.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextEdit>
#include <QtTest>

#include "pop3/check_driver.h"
#include "pop3/pop3_session.h"
#include "support/dovecot_fixture.h"
#include "support/scripted_pop3_server.h"
#include "support/startup_fixture.h"

using namespace ostrel;
using testing::DovecotFixture;
using testing::ScriptedPop3Server;
using testing::ScriptedReply;
using testing::StartupFixture;
using testing::top_reply;

namespace {

constexpr int kTimeoutMs = 400;
constexpr int kMiB = 1024 * 1024;

QByteArray account_line(const QString& server, const QByteArray& login = "ann",
                        const QByteArray& password = "secret") {
    return server.toUtf8() + "<>" + login + "<>" + password + "<>\r\n";
}

// A port on 127.0.0.1 where nothing listens any more.
quint16 closed_port() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

// The login steps answered normally, then `reply` for STAT.
void login_then_stat(ScriptedPop3Server& server, const ScriptedReply& stat) {
    server.queue << ScriptedReply::text("+OK hi\r\n") << ScriptedReply::text("+OK\r\n")
                 << ScriptedReply::text("+OK\r\n") << stat;
}

QByteArray endless_header_block() {
    const QByteArray line = "X-Filler: no end-of-block mark follows\r\n";
    return "+OK\r\n" + line.repeated(3 * kMiB / line.size());
}

enum class Fault {
    Refused,
    Unresolvable,
    CloseAfterGreeting,
    CloseAfterPass,
    GarbageGreeting,
    GarbageInBlock,
    HugeGreeting,
    HugeStatReply,
    EndlessHeaderBlock,
    NegativeCount,
};

// Sets `bad` up for `fault` and returns the account line that reaches it.
QByteArray arm(Fault fault, ScriptedPop3Server& bad) {
    static const char raw_garbage[] = "\x00\xff\xfe\x01garbage\x00\x1b[2J";
    const QByteArray nul_garbage(raw_garbage, sizeof raw_garbage - 1);
    switch (fault) {
        case Fault::Refused:
            return account_line(QStringLiteral("127.0.0.1:%1").arg(closed_port()));
        case Fault::Unresolvable:
            return account_line(QStringLiteral("nosuchhost.invalid"));
        case Fault::CloseAfterGreeting:
            bad.queue << ScriptedReply::close("+OK hi\r\n");
            break;
        case Fault::CloseAfterPass:
            bad.queue << ScriptedReply::text("+OK hi\r\n") << ScriptedReply::text("+OK\r\n")
                      << ScriptedReply::close("+OK\r\n");
            break;
        case Fault::GarbageGreeting:
            bad.queue << ScriptedReply::text(nul_garbage);  // no line end ever
            break;
        case Fault::GarbageInBlock:
            login_then_stat(bad, ScriptedReply::text("+OK 1 10\r\n"));
            bad.queue << ScriptedReply::text("+OK\r\nFrom: " + nul_garbage +
                                             "\r\nSubject: " + nul_garbage + "\r\n\r\n.\r\n");
            break;
        case Fault::HugeGreeting:
            bad.queue << ScriptedReply::text(QByteArray(10 * kMiB, '\0'));
            break;
        case Fault::HugeStatReply:
            login_then_stat(bad, ScriptedReply::text("+OK " + QByteArray(10 * kMiB, '7')));
            break;
        case Fault::EndlessHeaderBlock:
            login_then_stat(bad, ScriptedReply::text("+OK 1 10\r\n"));
            bad.queue << ScriptedReply::text(endless_header_block());
            break;
        case Fault::NegativeCount:
            login_then_stat(bad, ScriptedReply::text("+OK -7 300\r\n"));
            break;
    }
    return account_line(bad.address());
}

// A loaded main window with short timings.
struct Check {
    Check() : start(testing::check_timings(kTimeoutMs)) { start.load(); }
    void run() { start.form->executa2(); }
    // Without the once-per-run note on servers that do not offer STLS.
    QString log() const {
        return QString::fromUtf8(start.folder.read("logfile.txt"))
            .remove(QRegularExpression(".* the password travels unencrypted\r\n"));
    }
    QString trace() const { return start.form->Text1->toPlainText(); }
    QByteArray accounts() const { return start.folder.read("lumetta_pop.cfg"); }
    void set_accounts(const QByteArray& text) { start.folder.write("lumetta_pop.cfg", text); }

    void verify_idle() const {
        Form1& form = *start.form;
        QVERIFY(form.Timer1->isActive());
        QVERIFY(!form.Timer2->isActive());
        QVERIFY(!form.Timer3->isActive());
        QCOMPARE(form.windowTitle(), QString("Get Mail"));
        QVERIFY(form.driver().session().is_closed());
        QVERIFY(!form.check_running());
        QVERIFY(!form.state().timed_out);
    }

    StartupFixture start;
};

QList<QByteArray> good_messages() {
    return {top_reply("good@example.org", "after the fault")};
}

// The next check, against Dovecot when it runs, else a well-behaved scripted
// server: it must read the mailbox as if nothing had happened before.
void verify_next_check_works(Check& check) {
    const int log_lines_before = check.log().count("\r\n");
    ScriptedPop3Server good;
    good.responder = ScriptedPop3Server::mailbox(good_messages());
    if (DovecotFixture::available()) {
        const QString error = DovecotFixture::fill(
            "user31", {DovecotFixture::message("good@example.org", "after the fault")});
        QVERIFY2(error.isEmpty(), qPrintable(error));
        check.set_accounts(
            account_line(DovecotFixture::address(), "user31", DovecotFixture::password().toUtf8()));
    } else {
        check.set_accounts(account_line(good.address()));
    }
    // A good server answers at once; the generous time-out only covers a
    // first login that Dovecot is slow to serve while other tests run.
    check.start.form->Timer3->setInterval(10000);
    check.run();
    QVERIFY2(check.trace().contains(" 1 - good@example.org - after the fault"),
             qPrintable(check.trace() + check.log()));
    QCOMPARE(check.log().count("\r\n"), log_lines_before);
    check.verify_idle();
}

// A Dovecot of this test's own, so that it can be killed in the middle of
// a check without disturbing the shared one.
class OwnDovecot {
public:
    OwnDovecot() { QFile::setPermissions(dir_.path(), QFileDevice::Permissions(0x7755)); }
    ~OwnDovecot() { stop(); }

    bool stop() { return run("stop"); }
    bool start() { return run("start") && read_env() && log_in_once(); }
    // Kills the master and every process it started, the one serving the
    // check's connection included, as a crash would.
    bool kill_all() {
        QFile pidfile(dir_.filePath("dovecot/run/master.pid"));
        if (!pidfile.open(QIODevice::ReadOnly)) {
            return false;
        }
        const QByteArray master = pidfile.readAll().trimmed();
        for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
            QFile stat("/proc/" + entry + "/stat");
            if (stat.open(QIODevice::ReadOnly)) {
                const QByteArray text = stat.readAll();
                const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
                if (fields.value(1) == master) {
                    ::kill(entry.toInt(), SIGKILL);
                }
            }
        }
        return ::kill(master.toInt(), SIGKILL) == 0;
    }
    quint16 port() const { return port_; }
    const QString& home() const { return home_; }

private:
    bool run(const QString& action) {
        QProcess script;
        script.start(QStringLiteral(OSTREL_SOURCE_DIR "/scripts/dovecot-test-server"),
                     {action, dir_.filePath("dovecot")});
        return script.waitForFinished(30000) && script.exitCode() == 0;
    }
    // A fresh server's first login can take longer than the tests' short
    // reply time-out; one login here lets the check meet a warm server.
    bool log_in_once() const {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port_);
        const QByteArrayList lines = {
            "USER user32\r\n", "PASS " + DovecotFixture::password().toUtf8() + "\r\n", "QUIT\r\n"};
        bool answered = socket.waitForConnected(10000) && socket.waitForReadyRead(10000);
        for (const QByteArray& line : lines) {
            socket.readAll();
            socket.write(line);
            answered = answered && socket.waitForReadyRead(10000);
        }
        return answered;
    }
    bool read_env() {
        QFile env(dir_.filePath("dovecot/env"));
        if (!env.open(QIODevice::ReadOnly)) {
            return false;
        }
        for (const QByteArray& line : env.readAll().split('\n')) {
            const QByteArray value = line.mid(line.indexOf('=') + 1).trimmed();
            if (line.startsWith("OSTREL_DOVECOT_PORT=")) {
                port_ = static_cast<quint16>(value.toUInt());
            } else if (line.startsWith("OSTREL_DOVECOT_HOME=")) {
                home_ = QString::fromLocal8Bit(value);
            }
        }
        return port_ != 0 && !home_.isEmpty();
    }

    QTemporaryDir dir_;
    quint16 port_ = 0;
    QString home_;
};

}  // namespace

Q_DECLARE_METATYPE(Fault)

class FaultsDovecotTest : public QObject {
    Q_OBJECT
private slots:
    void fault_ends_cleanly_and_the_next_check_works_data() {
        QTest::addColumn<Fault>("fault");
        // A pattern the new log lines must match; empty: an ordinary check, nothing logged.
        QTest::addColumn<QString>("logged");
        const QString cannot = QStringLiteral("Can\u00b4t connect to Pop3 ");
        const QString closed = QStringLiteral("the connection closed before the reply to ");
        const QString capped = QStringLiteral("grew past 1 MiB");
        QTest::newRow("connection refused") << Fault::Refused << cannot;
        QTest::newRow("host does not resolve") << Fault::Unresolvable << cannot;
        QTest::newRow("closed after greeting") << Fault::CloseAfterGreeting << closed;
        QTest::newRow("closed after PASS") << Fault::CloseAfterPass << closed;
        QTest::newRow("greeting of garbage and NULs") << Fault::GarbageGreeting << cannot;
        QTest::newRow("header block of garbage and NULs") << Fault::GarbageInBlock << "";
        QTest::newRow("10 MiB greeting without CR LF") << Fault::HugeGreeting << capped;
        QTest::newRow("10 MiB STAT reply without CR LF") << Fault::HugeStatReply << capped;
        QTest::newRow("endless header block") << Fault::EndlessHeaderBlock << capped;
        QTest::newRow("negative count") << Fault::NegativeCount << "";
    }
    // Each fault ends its own account only, without waiting out the reply
    // time-out unless the server is silent; the next account is checked.
    void fault_ends_cleanly_and_the_next_check_works() {
        QFETCH(Fault, fault);
        QFETCH(QString, logged);
        ScriptedPop3Server bad;
        bad.responder = ScriptedPop3Server::mailbox({});
        ScriptedPop3Server second;
        second.responder = ScriptedPop3Server::mailbox({});
        Check check;
        const QByteArray accounts = arm(fault, bad) + account_line(second.address());
        check.set_accounts(accounts);
        const qsizetype log_before = check.log().size();
        QSignalSpy timeouts(check.start.form->Timer3, &QTimer::timeout);
        check.run();
        const QString added = check.log().mid(log_before);
        if (fault != Fault::Unresolvable) {  // how soon a name fails is the resolver's
            QCOMPARE(timeouts.count() > 0, fault == Fault::GarbageGreeting);
        }
        if (logged.isEmpty()) {
            QCOMPARE(added, QString());
        } else {
            QVERIFY2(added.contains(QRegularExpression(logged)), qPrintable(added));
        }
        if (logged.startsWith("Can")) {
            const QString server = QString::fromUtf8(accounts.left(accounts.indexOf("<>")));
            QCOMPARE(added.count(logged + server + "\r\n"), 1);
        }
        QCOMPARE(second.connections, 1);
        QVERIFY(check.start.prompts.isEmpty());
        QCOMPARE(check.accounts(), accounts);
        check.verify_idle();
        verify_next_check_works(check);
    }

    // Dovecot killed while the headers are being read, then started again.
    void dovecot_killed_in_the_middle_of_a_check() {
        if (!DovecotFixture::available()) {
            QSKIP(DovecotFixture::kSkipReason);
        }
        OwnDovecot dovecot;
        QVERIFY2(dovecot.start(), "cannot start a private Dovecot");
        const QByteArray shared_home = qgetenv("OSTREL_DOVECOT_HOME");
        qputenv("OSTREL_DOVECOT_HOME", dovecot.home().toLocal8Bit());
        QList<QByteArray> messages;
        for (int k = 1; k <= 2000; ++k) {
            messages << DovecotFixture::message("m" + QByteArray::number(k) + "@x", "s");
        }
        const QString filled = DovecotFixture::fill("user32", messages);
        qputenv("OSTREL_DOVECOT_HOME", shared_home);
        QVERIFY2(filled.isEmpty(), qPrintable(filled));

        Check check;
        const QByteArray accounts = account_line(QStringLiteral("127.0.0.1:%1").arg(dovecot.port()),
                                                 "user32", DovecotFixture::password().toUtf8());
        check.set_accounts(accounts);
        // Header blocks come in many arrivals; the twentieth is well past the
        // login, however quickly they are read.
        bool stopped = false;
        int arrivals = 0;
        QMetaObject::Connection stopper =
            connect(check.start.form->findChild<QTcpSocket*>("Winsock1"), &QTcpSocket::readyRead,
                    this, [&] {
                        if (++arrivals == 20) {
                            stopped = true;
                            QVERIFY(dovecot.kill_all());
                        }
                    });
        check.run();
        disconnect(stopper);
        QVERIFY(stopped);
        const QString log = check.log();
        QVERIFY2(log.contains(QRegularExpression(
                     "closed before the reply to [^;]+ was complete; its seen state")),
                 qPrintable(log));
        QVERIFY(!check.trace().contains(" 2000 - m2000@x"));
        QVERIFY(!check.start.folder.exists(QStringLiteral("127.0.0.1:%1.svr").arg(dovecot.port())));
        QCOMPARE(check.accounts(), accounts);
        check.verify_idle();

        dovecot.stop();  // clears what the killed one left behind
        QVERIFY2(dovecot.start(), "cannot start the private Dovecot again");
        check.set_accounts(account_line(QStringLiteral("127.0.0.1:%1").arg(dovecot.port()),
                                        "user32", DovecotFixture::password().toUtf8()));
        check.run();
        QVERIFY2(check.trace().contains(" 2000 - m2000@x - s"), qPrintable(check.log()));
        check.verify_idle();
    }
};

QTEST_MAIN(FaultsDovecotTest)
#include "faults_dovecot_test.moc"
