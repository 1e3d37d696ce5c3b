// Checks against scripted servers: the dialogue, what a misbehaving server
// or network does to one account (and to that account only), and the fast
// dialogues that must read a mailbox exactly as the plain one does.
#include <QLabel>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>
#include <algorithm>
#include <functional>

#include "mail/display_text.h"
#include "notify/nota_form.h"
#include "pop3/header_cache.h"
#include "support/check_fixture.h"
#include "support/scripted_pop3_server.h"

using namespace ostrel;
using testing::CheckFixture;
using testing::kLoggedIn;
using testing::Said;
using testing::ScriptedPop3Server;
using testing::ScriptedReply;
using testing::top_reply;
using testing::Transcript;

namespace {

constexpr int kTimeoutMs = 400;
constexpr int kMiB = 1024 * 1024;

// A server that pipelines and gives unique ids greets; the client sends USER.
const Transcript kPipelining = {"S: +OK hi", "C: CAPA", "S: +OK\r\nPIPELINING\r\nUIDL\r\n.",
                                "C: USER ann"};

QByteArray account_line(const QString& server, const QByteArray& login = "ann",
                        const QByteArray& search = "") {
    return server.toUtf8() + "<>" + login + "<>secret<>" + search + "\r\n";
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

// One row of faults_end_that_account_only.
struct Fault {
    QString server;  // empty: the scripted server
    Transcript dialogue;
    QString logged;  // a pattern; empty: nothing logged
    QString prompt;
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

    // What the latest check left: seen state without dates, popups, trace.
    QString outcome(const QString& server, int popups_before) const {
        QString shown = QString::fromLatin1(seen(server).join('\n')) + '\n';
        for (int slot = popups_before + 1; slot <= notes.nota_count(); ++slot) {
            const NotaForm* nota = notes.nota_list(slot);
            shown += nota->Label2->text() + nota->Label5->text() + '\n';
        }
        return shown + trace();
    }
};

// A good check of four messages; then three more arrive.
struct AfterGoodCheck : Check {
    explicit AfterGoodCheck(const QByteArrayList& capabilities) : Check(QByteArray()) {
        server.capabilities = capabilities;
        server.responder = mailbox_of({1, 2, 3, 4});
        write_accounts(account_line(server.address()));
        run();
    }
    QString seen_file() const { return server.address() + ".svr"; }
    QString cache_file() const { return header_cache_file_name({server.address(), "ann"}); }

    // The faulty check's TOP commands, log and files kept; then an ordinary one.
    void verify(const ScriptedPop3Server::Responder& faulty, const QString& logged,
                const QString& asked, const QString& kept) {
        const QByteArray seen = folder.read(seen_file());
        const QByteArray cache = folder.read(cache_file());
        const int popups = notes.nota_count();
        const int commands = server.commands.size();
        const qsizetype log_before = log().size();
        server.responder = faulty;
        run();
        const QString asked_now = tops(server.commands.mid(commands));
        QVERIFY2(QRegularExpression("^" + asked + "$").match(asked_now).hasMatch(),
                 qPrintable(asked_now));
        const QString added = log().mid(log_before);
        QVERIFY2(logged.isEmpty() ? added.isEmpty() : added.contains(logged), qPrintable(added));
        QCOMPARE(folder.read(seen_file()) == seen, kept.contains("svr"));
        QCOMPARE(folder.read(cache_file()) == cache, kept.contains("hdr"));
        QCOMPARE(notes.nota_count(), popups + (kept.contains("svr") ? 0 : 1));
        QVERIFY(kept.contains("svr") || folder.read(seen_file()).count("\r\n") == 7);
        QVERIFY(idle());

        server.responder = mailbox_of(kGrown);
        run();
        QVERIFY2(trace().contains(" 7 - S\u00e9nder 7 <s7@x>"), qPrintable(trace()));
        QCOMPARE(log().size(), log_before + added.size());
    }

    static inline const QList<int> kGrown = {1, 2, 3, 4, 5, 6, 7};
    ScriptedPop3Server server;
};

// A reader that is no protocol at all: it hands out the reading prepared for
// each server and notes the accounts it was asked for.
struct FakeReader : MailboxReader {
    MailboxReading read(const MailboxAccount& account, const CountHeard&) override {
        asked << account.server + ' ' + account.login + ' ' + account.credential.secret;
        return readings.value(account.server);
    }
    QHash<QString, MailboxReading> readings;
    QStringList asked;
};

}  // namespace

Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(ScriptedPop3Server::Responder)

class CheckDriverTest : public QObject {
    Q_OBJECT
    static void after_a_good_check_columns() {
        QTest::addColumn<QByteArrayList>("capabilities");
        QTest::addColumn<ScriptedPop3Server::Responder>("faulty");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("kept");  // "svr", "hdr": files left as they were
    }
    static void row(const char* name, const QByteArrayList& capabilities,
                    const ScriptedPop3Server::Responder& faulty, const QString& logged,
                    const QString& asked, const QString& kept) {
        QTest::newRow(name) << capabilities << faulty << logged << asked << kept;
    }

private slots:
    // No check reads a socket the program has already closed.
    void init() { QTest::failOnWarning(QRegularExpression("device not open")); }

    // Two accounts in file order, every reply of the first arriving byte by
    // byte; debug mode shows each account's total. Lines between them that
    // cannot be an account are logged and skipped: a line break in a field
    // reaches no wire (CR ends the accounts line, so "pw\rDELE 1" is a short
    // line), and a password in such a line is not logged.
    void two_accounts_in_file_order() {
        ScriptedPop3Server first;
        const auto mailbox =
            ScriptedPop3Server::mailbox({top_reply("Ann <ann@example.org>", "first"),
                                         top_reply("bob@example.org", "second +OK")});
        first.piece_gap_ms = 1;
        first.transcript = {ScriptedReply::in_pieces_of("+OK ready\r\n", 1)};
        first.responder = [mailbox](const QByteArray& command) {
            return ScriptedReply::in_pieces_of(mailbox(command).pieces.join(), 1);
        };
        ScriptedPop3Server second;
        // An accounts line of the older program, in windows-1252.
        second.transcript = {"S: +OK",           "C: CAPA", "S: -ERR",
                             "C: USER b\u00f6b", "S: +OK",  "C: PASS s\u20acret",
                             "S: +OK",           "C: STAT", "S: +OK 0 0"};
        Check check(  // byte by byte is slow on a loaded machine
            account_line(first.address()) + "pop.invalid<>ann<>secret\r\n" +
                account_line(first.address(), "ann\nSTAT") + first.address().toUtf8() +
                "<>ann<>hidden\nDELE 1<>\r\n" + first.address().toUtf8() +
                "<>ann<>pw\rDELE 1<>\r\n" + second.address().toUtf8() +
                "<>b\xf6\x62<>s\x80ret<>word\r\n",
            10000);
        check.state.debug_mode = true;
        check.run();
        QCOMPARE(first.commands,
                 QByteArrayList({"CAPA", "USER ann", "PASS secret", "STAT", "TOP 1 0", "TOP 2 0"}));
        QVERIFY(check.trace().contains(" 1 - Ann <ann@example.org> - first"));
        QVERIFY(check.trace().contains(" 2 - bob@example.org - second +OK"));
        QVERIFY(!check.log().contains("Can"));
        QCOMPARE(check.log().count("Err 001"), 5);
        QVERIFY(check.log().contains("line break") && !check.log().contains("hidden"));
        // Each total comes before the account's evaluation.
        QCOMPARE(check.notes.nota_list(1)->Label2->text(), "total " + first.address() + " 2");
        QCOMPARE(check.notes.nota_list(3)->Label2->text(), "total " + second.address() + " 0");
        QVERIFY(check.idle());
    }

    // The check's side of the reader contract, for any reader: a reading is
    // evaluated; no reading is logged or shown and leaves the seen state as
    // it was; the next account is read all the same, until the program ends.
    void any_reader_is_checked_alike() {
        Check check(
            "read<>ann<>pa<>\r\ndown<>bo<>pb<>\r\nrefused<>cy<>pc<>\r\nbroken<>di<>pd<>\r\n"
            "words<>ed<>pe<>lee\r\nending<>fa<>pf<>\r\nafter<>gu<>pg<>\r\n");
        FakeReader fake;
        MailboxReading read;
        store_decoded(read.messages, 0, 1, "Lee <lee@x>", "one");
        store_decoded(read.messages, 1, 2, "bo@x", "two");
        read.count = 2;
        fake.readings = {
            {"read", read},
            {"words", read},
            {"down", MailboxReading::failed(MailboxReading::Outcome::CannotConnect)},
            {"refused", MailboxReading::failed(MailboxReading::Outcome::Refused, "No")},
            {"broken", MailboxReading::failed(MailboxReading::Outcome::Abandoned, "it went quiet")},
            {"ending", MailboxReading::failed(MailboxReading::Outcome::Ending)}};
        check.folder.write("broken.svr", "seen before\r\n");
        CheckDriver driver(
            check.context, check.notes, check.passwords,
            {&check.Timer1, &check.Timer2, &check.Text1, [](const QString&) {}, [](TrayImage) {}},
            [&fake](const QString&) -> MailboxReader& { return fake; });
        driver.executa2();
        QCOMPARE(fake.asked, QStringList({"read ann pa", "down bo pb", "refused cy pc",
                                          "broken di pd", "words ed pe", "ending fa pf"}));
        QCOMPARE((check.folder.read("read.svr") + check.folder.read("words.svr")).count("\r\n"), 4);
        QCOMPARE(check.folder.read("broken.svr"), QByteArray("seen before\r\n"));
        QVERIFY(!check.folder.exists("down.svr") && !check.folder.exists("refused.svr"));
        QCOMPARE(check.notes.nota_list(1)->Label2->text(), QString("You have  2 new message(s)"));
        QCOMPARE(check.notes.nota_list(2)->Label1->text(), QString("One message Match: lee"));
        QCOMPARE(check.prompts, QStringList{"No"});
        QVERIFY(check.log().contains("Can\u00b4t connect to Pop3 down\r\n"));
        QVERIFY(
            check.log().contains("broken: it went quiet; its seen state was left as it was\r\n"));
        QVERIFY(check.trace().contains(" 2 - bo@x - two"));
    }

    // Each fault ends its own account only, with a log line or a box (or an
    // ordinary check where the nonsense is harmless), waiting out the reply
    // time-out only for a silent server, writing no seen state. The next
    // account and the next check work as before; the accounts file is kept.
    void faults_end_that_account_only_data() {
        QTest::addColumn<Fault>("fault");
        static const char raw_garbage[] = "\x00\xff\xfe\x01garbage\x00\x1b[2J";
        const QByteArray garbage(raw_garbage, sizeof raw_garbage - 1);
        const QByteArray filler = "X-Filler: no end-of-block mark follows\r\n";
        const QString cannot = QStringLiteral("Can\u00b4t connect to Pop3 ");
        const QString closed = QStringLiteral("closed before the reply to ");
        const QString capped = QStringLiteral("grew past 1 MiB");
        const auto text = &ScriptedReply::text;
        const auto close = &ScriptedReply::close;
        const auto row = [](const char* name, const Transcript& dialogue, const QString& logged,
                            const QString& prompt = {}, int waited = 0, const QString& trace = {},
                            const QString& server = {}) {
            QTest::newRow(name) << Fault{server, dialogue, logged, prompt, waited, trace};
        };
        row("connection refused", {}, cannot, "", 0, "",
            QStringLiteral("127.0.0.1:%1").arg(closed_port()));
        row("host does not resolve", {}, cannot, "", -1, "", "nosuchhost.invalid");
        row("silent greeting of garbage and NULs", {text(garbage)}, cannot, "", 1);
        row("greeting refused", {"S: -ERR [AUTH] no"}, "",
            "An error occured trying to connect to server");
        row("user refused", kLoggedIn.mid(0, 4) + Transcript{"S: -ERR [AUTH] no"}, "",
            "Error with username");
        row("password refused", kLoggedIn.mid(0, 6) + Transcript{"S: -ERR [AUTH] no"}, "",
            "Error with password");
        // Pipelined: USER alone, then PASS and the listing in one write (the
        // server answers once all four are in); a refused PASS is the end.
        row("user refused, pipelining", kPipelining + Transcript{"S: -ERR [AUTH] no"}, "",
            "Error with username");
        row("password refused, pipelining",
            kPipelining + Transcript{"S: +OK", "C: PASS secret", "C: STAT", "C: UIDL", "C: LIST",
                                     "S: -ERR [AUTH] no", "S: +OK 1 10", "S: +OK\r\n1 a\r\n.",
                                     "S: +OK\r\n1 10\r\n."},
            "", "Error with password");
        row("pipelined login, listing and window",
            kPipelining + Transcript{"S: +OK", "C: PASS secret", "C: STAT", "C: UIDL", "C: LIST",
                                     "S: +OK", "S: +OK 1 10", "S: +OK\r\n1 a\r\n.",
                                     "S: +OK\r\n1 10\r\n.", "C: TOP 1 0", "C: TOP 2 0",
                                     text(top_reply("a@x", "one")), "S: -ERR no such message"},
            "", "", 0, "^\\s+1 - a@x - one\\s+1 - good");
        // The client may or may not have sent its next command before the close.
        // A server that closes at CAPA is reached again without it.
        row("closed after each greeting", {close("+OK hi\r\n"), "--", close("+OK hi\r\n")},
            closed + "USER");
        row("closed after PASS", kLoggedIn.mid(0, 6) + Transcript{close("+OK\r\n")},
            closed + "STAT");
        row("closed in a header block",
            kLoggedIn + Transcript{"S: +OK 2 100", "C: TOP 1 0", close("+OK\r\nFrom: cut@x\r\n")},
            closed + "TOP 1 0 was complete; its seen state");
        row("10 MiB greeting without CR LF", {text(QByteArray(10 * kMiB, '\0'))}, capped);
        row("10 MiB STAT reply without CR LF",
            kLoggedIn + Transcript{text("+OK " + QByteArray(10 * kMiB, '7'))}, "STAT " + capped);
        // Cut at the cap and skipped, in bounded memory, to an end that never comes.
        row("endless header block",
            kLoggedIn + Transcript{"S: +OK 1 10", "C: TOP 1 0",
                                   text("+OK\r\n" + filler.repeated(3 * kMiB / 40))},
            "no reply to TOP 1 0 within", "", 1);
        row("header block of garbage and NULs",
            kLoggedIn + Transcript{"S: +OK 1 10", "C: TOP 1 0",
                                   text("+OK\r\nFrom: " + garbage + "\r\nSubject: " + garbage +
                                        "\r\n\r\n.\r\n")},
            "");
        row("odd USER reply, negative count",
            {"S: +OK", "C: CAPA", "S: -ERR", "C: USER ann", "S: \x01\xff", "C: PASS secret",
             "S: +OK", "C: STAT", "S: +OK -7 300"},
            "", "", 0, "^\\s+1 - good");
        // Single lines in pieces, one line too many after PASS, a refused TOP
        // and a block whose end mark is split: messages 2 and 3 only.
        row("split replies, a refused TOP",
            {ScriptedReply::split({"+OK hel", "lo\r\n"}), "C: CAPA", "S: -ERR", "C: USER ann",
             ScriptedReply::split({"+OK", " user\r\n"}), "C: PASS secret",
             "S: +OK\r\n+OK one line too many", "C: STAT",
             ScriptedReply::split({"+OK 3", " 300\r\n"}), "C: TOP 1 0", "S: -ERR message 1 gone",
             "C: TOP 2 0",
             ScriptedReply::split({"+OK\r\nFrom: c@x\r\nSubject: ok\r\n\r\n", ".\r", "\n"}),
             "C: TOP 3 0", text(top_reply("d@x", "three"))},
            "", "", 0, "^\\s+2 - c@x - ok\\s+3 - d@x - three\\s+1 - good");
    }
    void faults_end_that_account_only() {
        QFETCH(Fault, fault);
        const auto& [address, dialogue, logged, prompt, waited, trace] = fault;
        ScriptedPop3Server bad;
        bad.transcript = dialogue;
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
        QVERIFY(!logged.startsWith("Can") || added.count(logged + server + "\r\n") == 1);
        QCOMPARE(check.prompts, prompt.isEmpty() ? QStringList() : QStringList{prompt});
        QVERIFY(waited < 0 || (timeouts.count() > 0) == (waited == 1));
        QVERIFY2(check.trace().contains(QRegularExpression(trace)), qPrintable(check.trace()));
        QCOMPARE(check.folder.exists(server + ".svr"), added.isEmpty() && prompt.isEmpty());
        QCOMPARE(second.connections, 1);
        // A password reaches only a server whose dialogue asks for it.
        const auto password = [](const QByteArray& line) { return line.startsWith("PASS "); };
        QCOMPARE(std::any_of(bad.commands.cbegin(), bad.commands.cend(), password),
                 std::any_of(dialogue.cbegin(), dialogue.cend(),
                             [&](const Said& said) { return password(said.client); }));
        QCOMPARE(check.folder.read("lumetta_pop.cfg"), accounts);
        QVERIFY(check.idle());

        check.write_accounts(account_line(second.address()));
        check.run();
        QVERIFY(check.trace().contains(" 1 - good@example.org - after the fault"));
        QCOMPARE(check.log().size(), log_before + added.size());
    }

    // Between checks messages are deleted, added and renumbered, a TOP is
    // refused mid-batch, and a new message takes a gone one's unique id (its
    // size tells): every dialogue leaves the same seen state, popups and
    // trace; with unique ids it asks only for unseen header blocks.
    // Pipelined, one more TOP past the last message ends each batch.
    void every_dialogue_reads_a_changing_mailbox_alike() {
        const QList<QList<int>> checks = {
            {1, 2, 3, 4, 5}, {1, -8, 3, 6, 5, 7}, {1, -8, 3, 6, 5, 7}, {1, -8, 3, 6, 10, 7}};
        const QByteArrayList asked_with_ids = {"1 2 3 4 5", "2 4 6", "2", "2 5"};
        const QByteArrayList asked_without = {"1 2 3 4 5", "1 2 3 4 5 6", "1 2 3 4 5 6",
                                              "1 2 3 4 5 6"};
        QStringList first_outcomes;
        for (const QByteArrayList& capabilities :
             {QByteArrayList(), QByteArrayList{"TOP", "UIDL", "RESP-CODES"},
              QByteArrayList{"PIPELINING"}, QByteArrayList{"UIDL", "PIPELINING"}}) {
            ScriptedPop3Server server;
            server.capabilities = capabilities;
            Check check(account_line(server.address()));
            QStringList outcomes;
            for (int turn = 0; turn < checks.size(); ++turn) {
                server.responder = mailbox_of(checks[turn], [](QByteArrayList& ids) {
                    std::replace(ids.begin(), ids.end(), QByteArray("uid-10"), QByteArray("uid-5"));
                });
                const int popups = check.notes.nota_count();
                const int commands = server.commands.size();
                check.run();
                outcomes << check.outcome(server.address(), popups);
                const QByteArray closing = capabilities.contains("PIPELINING")
                                               ? " " + QByteArray::number(checks[turn].size() + 1)
                                               : QByteArray();
                QCOMPARE(tops(server.commands.mid(commands)),
                         (capabilities.contains("UIDL") ? asked_with_ids : asked_without)[turn] +
                             closing);
            }
            QVERIFY(!check.log().contains(server.address()));
            if (first_outcomes.isEmpty()) {
                first_outcomes = outcomes;
                QVERIFY(outcomes[0].contains("You have  5 new message(s)") &&
                        !outcomes[2].contains("You have"));
                QVERIFY(
                    outcomes[1].contains("You have  2 new message(s)\r\nS\u00e9nder 6\r\n"
                                         "S\u00e9nder 7\n"));
                QVERIFY(outcomes[1].contains(" 6 - S\u00e9nder 7 <s7@x> - subject 7 folded"));
            }
            QCOMPARE(outcomes, first_outcomes);
        }
    }

    // A dialogue that breaks off (a close, a late reply, replies out of step)
    // leaves the seen state and the header cache byte for byte.
    void broken_off_after_a_good_check_data() {
        after_a_good_check_columns();
        const QByteArrayList fast = {"UIDL", "PIPELINING"};
        const ScriptedReply close = ScriptedReply::close("+OK\r\n1 uid-1\r\n");
        const ScriptedReply late = ScriptedReply::late(block(6), 3 * kTimeoutMs);
        const QString closed = "connection closed before the reply to ";
        const QString stalled = "no reply to TOP 6 0 within 0.4 s";
        const QString out_of_step = "fell out of step with the commands sent ahead at ";
        const auto broken = [](const char* name, const QByteArrayList& capabilities,
                               const QByteArray& command, const ScriptedReply& reply,
                               const QString& logged, const QString& asked = "5 6 7 8") {
            const auto grown = mailbox_of(AfterGoodCheck::kGrown);
            const ScriptedPop3Server::Responder faulty = [=](const QByteArray& sent) {
                return sent == command ? reply : grown(sent);
            };
            row(name, capabilities, faulty, logged + "; its seen state was left as it was", asked,
                "svr hdr");
        };
        broken("closed in the middle of a batch", fast, "TOP 6 0", close,
               closed + "TOP 6 0 was complete");
        broken("no progress in a batch", fast, "TOP 6 0", late, stalled);
        broken("a TOP answered twice", fast, "TOP 6 0", ScriptedReply::text(block(6) + block(6)),
               out_of_step + "TOP 8 0");
        broken("a bare LF mark inside a message", fast, "TOP 6 0",
               ScriptedReply::text(
                   top_reply("eve@x", "hi\n.\r\n+OK\r\nFrom: Your Bank <b@x>\r\nSubject: Urgent")),
               out_of_step + "TOP 6 0");
        broken("bytes after the last reply", fast, "TOP 8 0",
               ScriptedReply::text("-ERR no such message\r\n+OK\r\n"), out_of_step + "TOP 8 0");
        broken("late reply, one command at a time", {}, "TOP 6 0", late, stalled, "1 2 3 4 5 6");
        broken("closed during UIDL", fast, "UIDL", close, closed + "UIDL was complete", "");
    }
    void broken_off_after_a_good_check() { after_a_good_check(); }

    // A header cache or a listing that cannot be trusted means asking for
    // those header blocks again; a server claiming far more messages than it
    // serves is read until a long run of refusals.
    void after_a_good_check_data() {
        after_a_good_check_columns();
        const QByteArrayList fast = {"UIDL", "PIPELINING"};
        const auto grown = mailbox_of(AfterGoodCheck::kGrown);
        const ScriptedPop3Server::Responder claims = [grown](const QByteArray& sent) {
            return sent == "STAT" ? ScriptedReply::text("+OK 100000 0\r\n") : grown(sent);
        };
        QString claimed = "1";
        for (int k = 2; k <= 107; ++k) {
            claimed += ' ' + QString::number(k);
        }
        const QString refused = "100 TOP commands in a row were refused, the last TOP 107 0";
        const auto ids = [](void (*alter)(QByteArrayList&)) {
            return mailbox_of(AfterGoodCheck::kGrown, alter);
        };
        row("damaged cache", fast, grown, "was set aside (line 2 is damaged)", "1 2 3 4 5 6 7 8",
            "");
        row("duplicate unique ids", fast, ids([](auto& ids) { ids[1] = ids[2] = "x"; }), "",
            "2 3 5 6 7 8", "");
        row("listing shorter than STAT", fast, ids([](auto& ids) { ids.removeLast(); }), "",
            "1 2 3 4 5 6 7 8", "hdr");
        row("claims more, one at a time", {}, claims, refused, claimed, "hdr");
        row("claims more, pipelined", {"PIPELINING"}, claims, refused, claimed + "( \\d+)*", "hdr");
    }
    void after_a_good_check() {
        QFETCH(QByteArrayList, capabilities);
        QFETCH(ScriptedPop3Server::Responder, faulty);
        QFETCH(QString, logged);
        QFETCH(QString, asked);
        QFETCH(QString, kept);
        AfterGoodCheck check(capabilities);
        if (QTest::currentDataTag() == QLatin1String("damaged cache")) {
            check.folder.write(
                check.cache_file(),
                check.folder.read(check.cache_file()).replace("\\tfolded", "\\xfolded"));
        }
        check.verify(faulty, logged, asked, kept);
    }

    // Two mailboxes on one server with colliding unique ids and sizes keep a
    // header cache each; the one cache they shared before is removed, never adopted.
    void accounts_on_one_server_keep_their_own_cache() {
        ScriptedPop3Server server;
        server.capabilities = {"UIDL", "PIPELINING"};
        const QHash<QByteArray, ScriptedPop3Server::Responder> mailboxes = {
            {"ann", ScriptedPop3Server::mailbox({top_reply("ann@x", "for ann")}, {"1"})},
            {"bob", ScriptedPop3Server::mailbox({top_reply("bob@x", "for bob")}, {"1"})}};
        QByteArray user = "ann";
        server.responder = [&](const QByteArray& command) {
            user = command.startsWith("USER ") ? command.mid(5) : user;
            return mailboxes[user](command);
        };
        Check check(account_line(server.address()) + account_line(server.address(), "bob"));
        const QString shared = server.address() + ".hdr";
        check.folder.write(shared, "Ostrel header cache 1 " + server.address().toUtf8() +
                                       "\r\n1\tann@x\tfor ann\r\n");
        for (int turn = 0; turn < 2; ++turn) {
            check.run();
            const QString trace = check.trace();
            QVERIFY2(trace.indexOf(" 1 - ann@x - for ann") < trace.indexOf(" 1 - bob@x - for bob"),
                     qPrintable(trace));
            QVERIFY(!trace.contains("bob@x - for ann"));
        }
        QCOMPARE(tops(server.commands), QByteArray("1 2 1 2"));
        QVERIFY(!check.folder.exists(shared));
        QCOMPARE(check.log().count("which every account of this server shared, was removed"), 1);
        QVERIFY(check.folder.read(header_cache_file_name({server.address(), "bob"}))
                    .contains("\tbob@x\tfor bob"));
    }

    // A header block past the 1 MiB cap, in pieces or whole, is cut at the
    // cap and read from what is kept; the message beside it is announced too.
    void an_over_long_header_block_costs_only_itself_data() {
        QTest::addColumn<QByteArrayList>("capabilities");
        QTest::addColumn<int>("piece");
        for (const QByteArrayList& capabilities : {QByteArrayList(), {"UIDL", "PIPELINING"}}) {
            for (const int piece : {16 * 1024, 0}) {
                QTest::addRow("%s, %s", capabilities.isEmpty() ? "one at a time" : "pipelined",
                              piece ? "16 KiB pieces" : "one piece")
                    << capabilities << piece;
            }
        }
    }
    void an_over_long_header_block_costs_only_itself() {
        QFETCH(QByteArrayList, capabilities);
        QFETCH(int, piece);
        const QByteArray big = "+OK\r\nFrom: big@x\r\nSubject: big\r\n" +
                               QByteArray("X-Filler: 0123456789\r\n").repeated(kMiB / 20) +
                               "\r\n.\r\n";
        ScriptedPop3Server server;
        server.capabilities = capabilities;
        const auto mailbox = ScriptedPop3Server::mailbox({big, block(2)}, {"uid-1", "uid-2"});
        server.responder = [&](const QByteArray& command) {
            return command == "TOP 1 0" && piece ? ScriptedReply::in_pieces_of(big, piece)
                                                 : mailbox(command);
        };
        Check check(account_line(server.address()), 5000);
        check.run();
        QCOMPARE(check.log(), QString());
        QVERIFY(check.trace().contains(
            QRegularExpression(" 1 - big@x - big\\s+ 2 - S\u00e9nder 2 <s2@x> - subject 2")));
        QCOMPARE(check.notes.newest()->Label2->text(), QString("You have  2 new message(s)"));
    }
};

QTEST_MAIN(CheckDriverTest)
#include "check_driver_test.moc"
