// Checks against scripted servers: the dialogue, what a misbehaving server
// or network does to one account (and to that account only), and the fast
// dialogues that must read a mailbox exactly as the plain one does.
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTextEdit>
#include <QtTest>
#include <functional>

#include "core/date_time_text.h"
#include "notify/nota_form.h"
#include "support/check_fixture.h"
#include "support/scripted_pop3_server.h"
#include "support/startup_fixture.h"

using namespace ostrel;
using testing::CheckFixture;
using testing::ScriptedPop3Server;
using testing::ScriptedReply;
using testing::StartupFixture;
using testing::top_reply;

Q_DECLARE_METATYPE(ScriptedReply)

namespace {

constexpr int kTimeoutMs = 400;
constexpr int kMiB = 1024 * 1024;

QByteArray account_line(const QString& server, const QByteArray& login = "ann",
                        const QByteArray& search = "") {
    return server.toUtf8() + "<>" + login + "<>secret<>" + search + "\r\n";
}

QList<QByteArray> two_messages() {
    return {top_reply("Ann <ann@example.org>", "first"),
            top_reply("bob@example.org", "second +OK")};
}

// A header block with an encoded sender, every other subject folded.
QByteArray block(int n) {
    const QByteArray number = QByteArray::number(n);
    return top_reply("=?UTF-8?Q?S=C3=A9nder_" + number + "?= <s" + number + "@x>",
                     "subject " + number + (n % 2 ? "\r\n\tfolded" : ""));
}

// Messages n in this order, with the unique ids "uid-n" (as `alter` leaves
// them); a negative n is a message whose TOP is refused.
ScriptedPop3Server::Responder mailbox_of(const QList<int>& numbers,
                                         const std::function<void(QByteArrayList&)>& alter = {}) {
    QList<QByteArray> blocks;
    QByteArrayList ids;
    for (int n : numbers) {
        blocks << (n < 0 ? QByteArray("-ERR message is gone\r\n") : block(n));
        ids << "uid-" + QByteArray::number(qAbs(n));
    }
    if (alter) {
        alter(ids);
    }
    return ScriptedPop3Server::mailbox(blocks, ids);
}

// The message numbers of the TOP commands among `commands`.
QByteArray tops(const QByteArrayList& commands) {
    QByteArrayList found;
    for (const QByteArray& command : commands) {
        if (command.startsWith("TOP ")) {
            found << command.mid(4, command.size() - 6);
        }
    }
    return found.join(' ');
}

// A port on 127.0.0.1 where nothing listens any more.
quint16 closed_port() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// The greeting, USER and PASS answered, then `stat` and `rest`.
QList<ScriptedReply> logged_in(const QByteArray& stat, const QList<ScriptedReply>& rest = {}) {
    return QList<ScriptedReply>{ScriptedReply::text("+OK hi\r\n"), ScriptedReply::text("+OK\r\n"),
                                ScriptedReply::text("+OK\r\n"), ScriptedReply::text(stat)} +
           rest;
}

// One row of faults_end_that_account_only.
struct Fault {
    QString server;  // empty: the scripted server
    QList<ScriptedReply> script;
    QString logged;  // a pattern; empty: nothing logged
    QString prompt;
    int commands;   // commands the server got; -1: a race
    int waited;     // time-out waited out; -1: the resolver's
    QString trace;  // a pattern the trace must match
};

// A check whose accounts file is `accounts`.
struct Check : CheckFixture {
    explicit Check(const QByteArray& accounts, int timeout_ms = kTimeoutMs)
        : CheckFixture(timeout_ms) {
        write_accounts(accounts);
    }
    // Without the once-per-run note on servers that do not offer STLS.
    QString log() const {
        return log_text().remove(QRegularExpression(".* the password travels unencrypted\r\n"));
    }

    // What the latest check left for the user: the seen-state file without
    // its dates, the popups it opened, and the header trace.
    QString outcome(const QString& server, int popups_before) const {
        QString shown;
        for (const QByteArray& line : folder.read(server + ".svr").split('\n')) {
            shown += QString::fromLatin1(line.mid(date_time_text().size() + 1)) + '\n';
        }
        for (int slot = popups_before + 1; slot <= notes.nota_count(); ++slot) {
            const NotaForm* nota = notes.nota_list(slot);
            shown += nota->Label2->text() + nota->Label5->text() + '\n';
        }
        return shown + trace();
    }
};

}  // namespace

Q_DECLARE_METATYPE(Fault)

class CheckDriverTest : public QObject {
    Q_OBJECT
private slots:
    // Two accounts in file order over the one socket, every reply of the
    // first arriving byte by byte; debug mode shows each account's total.
    // Lines between them that cannot be an account are logged and skipped;
    // a login with a line break is never sent.
    void two_accounts_in_file_order() {
        ScriptedPop3Server first;
        const auto mailbox = ScriptedPop3Server::mailbox(two_messages());
        first.piece_gap_ms = 1;
        first.queue << ScriptedReply::in_pieces_of("+OK ready\r\n", 1);
        first.responder = [mailbox](const QByteArray& command) {
            return ScriptedReply::in_pieces_of(mailbox(command).pieces.join(), 1);
        };
        ScriptedPop3Server second;
        second.responder = ScriptedPop3Server::mailbox({});
        // Byte by byte is slow on a loaded machine; no reply here is late.
        Check check(account_line(first.address()) + "pop.invalid<>ann<>secret\r\n" +
                        account_line(first.address(), "ann\nSTAT") +
                        account_line(second.address(), "bob", "word"),
                    10000);
        check.state.debug_mode = true;
        check.run();
        QCOMPARE(first.commands,
                 QByteArrayList({"CAPA", "USER ann", "PASS secret", "STAT", "TOP 1 0", "TOP 2 0"}));
        QCOMPARE(second.commands, QByteArrayList({"CAPA", "USER bob", "PASS secret", "STAT"}));
        QVERIFY(check.trace().contains(" 1 - Ann <ann@example.org> - first"));
        QVERIFY(check.trace().contains(" 2 - bob@example.org - second +OK"));
        QVERIFY(!check.log().contains("Can"));
        QCOMPARE(check.log().count("Err 001"), 2);
        QVERIFY(check.log().contains("line break"));
        QStringList totals;
        for (int slot = 1; slot <= check.notes.nota_count(); ++slot) {
            const NotaForm* nota = check.notes.nota_list(slot);
            if (nota && nota->Label2->text().startsWith("total ")) {
                totals << nota->Label2->text();
            }
        }
        QCOMPARE(totals, QStringList({"total " + first.address() + " 2",
                                      "total " + second.address() + " 0"}));
        QVERIFY(check.idle());
    }

    // Each fault ends its own account only, with a log line or a box (or as
    // an ordinary check where the server's nonsense is harmless), without
    // waiting out the reply time-out unless the server is silent, and
    // without writing its seen state. The next account is checked, the
    // accounts file is untouched, and the next check works as before.
    void faults_end_that_account_only_data() {
        QTest::addColumn<Fault>("fault");
        static const char raw_garbage[] = "\x00\xff\xfe\x01garbage\x00\x1b[2J";
        const QByteArray garbage(raw_garbage, sizeof raw_garbage - 1);
        const QByteArray filler = "X-Filler: no end-of-block mark follows\r\n";
        const QString cannot = QStringLiteral("Can\u00b4t connect to Pop3 ");
        const QString closed = QStringLiteral("closed before the reply to ");
        const QString capped = QStringLiteral("grew past 1 MiB");
        const QList<ScriptedReply> none;
        const auto text = &ScriptedReply::text;
        const auto close = &ScriptedReply::close;
        const auto row = [](const char* name, const QList<ScriptedReply>& script,
                            const QString& logged, const QString& prompt, int commands,
                            int waited = 0, const QString& trace = {}, const QString& server = {}) {
            QTest::newRow(name) << Fault{server, script, logged, prompt, commands, waited, trace};
        };
        row("connection refused", none, cannot, "", 0, 0, "",
            QStringLiteral("127.0.0.1:%1").arg(closed_port()));
        row("host does not resolve", none, cannot, "", 0, -1, "", "nosuchhost.invalid");
        row("silent greeting of garbage and NULs", {text(garbage)}, cannot, "", 0, 1);
        row("greeting refused", {text("-ERR [AUTH] no\r\n")}, "",
            "An error occured trying to connect to server", 0);
        row("user refused", {text("+OK hi\r\n"), text("-ERR [AUTH] no\r\n")}, "",
            "Error with username", 2);
        row("password refused", {text("+OK hi\r\n"), text("+OK\r\n"), text("-ERR [AUTH] no\r\n")},
            "", "Error with password", 3);
        row("closed after the greeting", {close("+OK hi\r\n")}, closed + "CAPA", "", -1);
        row("closed after PASS", {text("+OK hi\r\n"), text("+OK\r\n"), close("+OK\r\n")},
            closed + "STAT", "", -1);
        row("closed in a header block",
            logged_in("+OK 2 100\r\n", {close("+OK\r\nFrom: cut@x\r\n")}),
            closed + "TOP 1 0 was complete; its seen state", "", 5);
        row("10 MiB greeting without CR LF", {text(QByteArray(10 * kMiB, '\0'))}, capped, "", 0);
        row("10 MiB STAT reply without CR LF", logged_in("+OK " + QByteArray(10 * kMiB, '7')),
            "STAT " + capped, "", 4);
        row("endless header block",
            logged_in("+OK 1 10\r\n", {text("+OK\r\n" + filler.repeated(3 * kMiB / 40))}),
            "TOP 1 0 " + capped, "", 5);
        row("header block of garbage and NULs",
            logged_in("+OK 1 10\r\n", {text("+OK\r\nFrom: " + garbage + "\r\nSubject: " + garbage +
                                            "\r\n\r\n.\r\n")}),
            "", "", 5);
        row("odd USER reply, negative count",
            {text("+OK\r\n"), text("\x01\xff\r\n"), text("+OK\r\n"), text("+OK -7 300\r\n")}, "",
            "", 4, 0, "^\\s+1 - good");
        // Single lines in pieces, one line too many after PASS, a refused TOP
        // and a block whose end mark is split: messages 2 and 3 only.
        row("split replies, a refused TOP",
            {ScriptedReply::split({"+OK hel", "lo\r\n"}),
             ScriptedReply::split({"+OK", " user\r\n"}), text("+OK\r\n+OK one line too many\r\n"),
             ScriptedReply::split({"+OK 3", " 300\r\n"}), text("-ERR message 1 gone\r\n"),
             ScriptedReply::split({"+OK\r\nFrom: c@x\r\nSubject: ok\r\n\r\n", ".\r", "\n"}),
             text(top_reply("d@x", "three"))},
            "", "", 7, 0, "^\\s+2 - c@x - ok\\s+3 - d@x - three\\s+1 - good");
    }
    void faults_end_that_account_only() {
        QFETCH(Fault, fault);
        const auto& [address, script, logged, prompt, commands, waited, trace] = fault;
        ScriptedPop3Server bad;
        bad.queue = script;
        bad.responder = ScriptedPop3Server::mailbox({});
        ScriptedPop3Server second;
        second.responder =
            ScriptedPop3Server::mailbox({top_reply("good@example.org", "after the fault")});
        const QString server = address.isEmpty() ? bad.address() : address;
        const QByteArray accounts = account_line(server) + account_line(second.address());
        Check check(accounts);
        const qsizetype log_before = check.log().size();
        QSignalSpy timeouts(check.reader.connection().reply_timer(), &QTimer::timeout);
        check.run();
        const QString added = check.log().mid(log_before);
        QVERIFY2(logged.isEmpty() ? added.isEmpty() : added.contains(QRegularExpression(logged)),
                 qPrintable(added));
        if (logged.startsWith("Can")) {
            QCOMPARE(added.count(logged + server + "\r\n"), 1);
        }
        QCOMPARE(check.prompts, prompt.isEmpty() ? QStringList() : QStringList{prompt});
        if (commands >= 0) {
            QCOMPARE(bad.commands.size(), commands);
        }
        if (waited >= 0) {
            QCOMPARE(timeouts.count() > 0, waited == 1);
        }
        QVERIFY2(check.trace().contains(QRegularExpression(trace)), qPrintable(check.trace()));
        QCOMPARE(check.folder.exists(server + ".svr"), added.isEmpty() && prompt.isEmpty());
        QCOMPARE(second.connections, 1);
        QCOMPARE(check.folder.read("lumetta_pop.cfg"), accounts);
        QVERIFY(check.idle());

        check.write_accounts(account_line(second.address()));
        check.run();
        QVERIFY(check.trace().contains(" 1 - good@example.org - after the fault"));
        QCOMPARE(check.log().size(), log_before + added.size());
        QVERIFY(check.idle());
    }

    void a_check_asked_for_during_a_check_is_refused() {
        ScriptedPop3Server server;
        server.responder = ScriptedPop3Server::mailbox(two_messages());
        server.queue << ScriptedReply::silence();
        StartupFixture start(testing::check_timings(kTimeoutMs));
        start.load();
        start.folder.write("lumetta_pop.cfg", account_line(server.address()));
        Form1& form = *start.form;
        QSignalSpy finished(&form, &Form1::check_finished);
        QTimer::singleShot(kTimeoutMs / 4, &form, [&form] {
            form.Command2->click();
            form.check_now();
        });
        form.Command2->click();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(server.connections, 1);
        const QByteArray log = start.folder.read("logfile.txt");
        QCOMPARE(log.count("Can"), 1);
        QCOMPARE(log.count("Err 001"), 0);
    }

    // One mailbox read by servers with each set of capabilities. Between
    // checks messages are deleted, added and renumbered, and one TOP is
    // refused in the middle of a batch: every dialogue leaves the same seen
    // state, popups and trace, and one with unique ids asks only for header
    // blocks it has not seen.
    void every_dialogue_reads_a_changing_mailbox_alike() {
        const QList<QList<int>> checks = {
            {1, 2, 3, 4, 5}, {1, -8, 3, 6, 5, 7}, {1, -8, 3, 6, 5, 7}};
        const QByteArrayList asked_with_ids = {"1 2 3 4 5", "2 4 6", "2"};
        const QByteArrayList asked_without = {"1 2 3 4 5", "1 2 3 4 5 6", "1 2 3 4 5 6"};
        QStringList first_outcomes;
        for (const QByteArrayList& capabilities :
             {QByteArrayList(), QByteArrayList{"TOP", "UIDL", "RESP-CODES"},
              QByteArrayList{"PIPELINING"}, QByteArrayList{"UIDL", "PIPELINING"}}) {
            ScriptedPop3Server server;
            server.capabilities = capabilities;
            Check check(account_line(server.address()));
            QStringList outcomes;
            for (int turn = 0; turn < checks.size(); ++turn) {
                server.responder = mailbox_of(checks[turn]);
                const int popups = check.notes.nota_count();
                const int commands = server.commands.size();
                check.run();
                outcomes << check.outcome(server.address(), popups);
                QCOMPARE(tops(server.commands.mid(commands)),
                         (capabilities.contains("UIDL") ? asked_with_ids : asked_without)[turn]);
            }
            QVERIFY(!check.log().contains(server.address()));
            if (first_outcomes.isEmpty()) {
                first_outcomes = outcomes;
                QVERIFY(outcomes[0].contains("You have  5 new message(s)"));
                QVERIFY(
                    outcomes[1].contains("You have  2 new message(s)\r\nS\u00e9nder 6\r\n"
                                         "S\u00e9nder 7\n"));
                QVERIFY(outcomes[1].contains(" 6 - S\u00e9nder 7 <s7@x> - subject 7 folded"));
                QVERIFY(!outcomes[2].contains("You have"));
            }
            QCOMPARE(outcomes, first_outcomes);
        }
    }

    // A fault after a good check of four messages, with three more on the
    // server. A dialogue that breaks off (a close, a late reply) leaves the
    // seen state and the header cache byte for byte; a cache or listing that
    // cannot be trusted means asking for every header block; a server
    // claiming far more messages than it serves is read until a long run of
    // refusals. Only headers that arrived count, and the check after it is
    // an ordinary one.
    void faults_after_a_good_check_data() {
        QTest::addColumn<QByteArrayList>("capabilities");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("logged");  // empty: nothing
        QTest::addColumn<QString>("asked");   // a pattern for the faulty check's TOP commands
        QTest::addColumn<QString>("kept");    // the files left as they were
        const QByteArrayList fast = {"UIDL", "PIPELINING"};
        const QString state_kept = "; its seen state was left as it was";
        QStringList claimed;
        for (int k = 1; k <= 107; ++k) {
            claimed << QString::number(k);
        }
        const QString refused_run = "100 TOP commands in a row were refused, the last TOP 107 0";
        const auto row = [](const char* name, const QByteArrayList& capabilities, const char* fault,
                            const QString& logged, const QString& asked, const char* kept) {
            QTest::newRow(name) << capabilities << QString(fault) << logged << asked
                                << QString(kept);
        };
        const QString stalled = "no reply to TOP 6 0 within 0.4 s" + state_kept;
        row("closed in the middle of a batch", fast, "close",
            "connection closed before the reply to TOP 6 0 was complete" + state_kept, "5 6 7",
            "svr hdr");
        row("no progress in a batch", fast, "stall", stalled, "5 6 7", "svr hdr");
        row("late reply, one command at a time", {}, "stall", stalled, "1 2 3 4 5 6", "svr hdr");
        row("closed during UIDL", fast, "uidl close",
            "connection closed before the reply to UIDL was complete", "", "svr hdr");
        row("damaged cache", fast, "damaged", "was set aside (line 2 is damaged)", "1 2 3 4 5 6 7",
            "");
        row("duplicate unique ids", fast, "duplicates", "", "2 3 5 6 7", "");
        row("listing shorter than STAT", fast, "short listing", "", "1 2 3 4 5 6 7", "hdr");
        row("claims more than it serves", {}, "claims", refused_run, claimed.join(' '), "hdr");
        row("claims more than it serves, pipelined", {"PIPELINING"}, "claims", refused_run,
            claimed.join(' ') + "( 1\\d\\d)*", "hdr");
    }
    void faults_after_a_good_check() {
        QFETCH(QByteArrayList, capabilities);
        QFETCH(QString, fault);
        QFETCH(QString, logged);
        QFETCH(QString, asked);
        QFETCH(QString, kept);
        ScriptedPop3Server server;
        server.capabilities = capabilities;
        server.responder = mailbox_of({1, 2, 3, 4});
        Check check(account_line(server.address()));
        check.run();
        const QString seen_file = server.address() + ".svr";
        const QString cache_file = server.address() + ".hdr";
        if (fault == "damaged") {
            check.folder.write(cache_file,
                               check.folder.read(cache_file).replace("\\tfolded", "\\xfolded"));
        }
        const QByteArray seen = check.folder.read(seen_file);
        const QByteArray cache = check.folder.read(cache_file);
        const NotaManager& notes = check.notes;
        const int popups = notes.nota_count();

        const QList<int> grown = {1, 2, 3, 4, 5, 6, 7};
        const auto faulty = mailbox_of(grown, [&](QByteArrayList& ids) {
            if (fault == "duplicates") {
                ids[1] = ids[2] = "same";
            } else if (fault == "short listing") {
                ids.removeLast();
            }
        });
        server.responder = [&](const QByteArray& command) {
            if (fault == "claims" && command == "STAT") {
                return ScriptedReply::text("+OK 100000 0\r\n");
            }
            if (command == (fault == "uidl close" ? "UIDL" : "TOP 6 0")) {
                if (fault.endsWith("close")) {
                    return ScriptedReply::close("+OK\r\n1 uid-1\r\n");
                }
                if (fault == "stall") {
                    return ScriptedReply::late(block(6), 3 * kTimeoutMs);
                }
            }
            return faulty(command);
        };
        const int commands = server.commands.size();
        const qsizetype log_before = check.log().size();
        check.run();
        const QString asked_now = tops(server.commands.mid(commands));
        QVERIFY2(QRegularExpression("^" + asked + "$").match(asked_now).hasMatch(),
                 qPrintable(asked_now));
        const QString added = check.log().mid(log_before);
        QVERIFY2(logged.isEmpty() ? added.isEmpty() : added.contains(logged), qPrintable(added));
        QCOMPARE(check.folder.read(seen_file) == seen, kept.contains("svr"));
        QCOMPARE(check.folder.read(cache_file) == cache, kept.contains("hdr"));
        if (kept.contains("svr")) {
            QCOMPARE(notes.nota_count(), popups);
        } else {
            QCOMPARE(check.folder.read(seen_file).count("\r\n"), 7);
            QCOMPARE(notes.newest()->Label2->text(), QString("You have  3 new message(s)"));
        }
        QVERIFY(check.idle());

        server.responder = mailbox_of(grown);
        check.run();
        QVERIFY2(check.trace().contains(" 7 - S\u00e9nder 7 <s7@x>"), qPrintable(check.trace()));
        QCOMPARE(check.log().size(), log_before + added.size());
    }

    // A late CAPA reply would be taken for USER's: after the time-out the
    // dialogue starts again on a new connection, without CAPA, for the rest
    // of the run.
    void capa_left_unanswered_means_the_basic_dialogue() {
        ScriptedPop3Server server;
        server.responder = ScriptedPop3Server::mailbox(two_messages());
        server.capa = [](const QByteArray&) {
            return ScriptedReply::late("+OK\r\nUIDL\r\n.\r\n", 2 * kTimeoutMs);
        };
        Check check(account_line(server.address()));
        check.run();
        check.run();
        QCOMPARE(server.connections, 3);
        const QByteArrayList dialogue = {"USER ann", "PASS secret", "STAT", "TOP 1 0", "TOP 2 0"};
        QCOMPARE(server.commands, QByteArrayList{"CAPA"} + dialogue + dialogue);
        QVERIFY(check.trace().contains(" 2 - bob@example.org - second +OK"));
        QVERIFY(!check.log().contains(server.address()));
    }

    void schedule_counts_ticks_to_the_interval() {
        Timings timings = testing::check_timings(kTimeoutMs);
        timings.check_tick_ms = 20;
        StartupFixture start(timings);
        start.load();
        start.form->state().check_interval = QStringLiteral("3");
        QSignalSpy finished(start.form.get(), &Form1::check_finished);
        QVERIFY(finished.wait(2000));
        QCOMPARE(start.form->state().minute_counter, 0);
        start.form->state().minute_counter = 1;
        start.form->Command2->click();
        QCOMPARE(finished.count(), 2);
        QCOMPARE(start.form->state().minute_counter, 1);
        start.form->state().check_interval = QStringLiteral("not a number");
        QVERIFY(finished.wait(2000));
        QCOMPARE(start.form->state().minute_counter, 0);
    }
};

QTEST_MAIN(CheckDriverTest)
#include "check_driver_test.moc"
