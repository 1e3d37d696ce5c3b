// What real servers never do: faults that end one account's reading (its files kept, the next
// account read), rules before the login, and the idle watcher's dialogue with its retries.
#include <QSignalSpy>
#include <QtTest>

#include "core/event_log.h"
#include "imap/idle_watcher.h"
#include "support/check_fixture.h"
#include "support/scripted_imap_server.h"

using namespace ostrel;
using testing::ScriptedImapServer;

namespace {

const QByteArray kGreeting = "S: * OK [CAPABILITY IMAP4rev1 IDLE] hi\n";
const QByteArray kLogIn = "C: {tag} LOGIN \"ann\" \"secret\"\nS: {tag} OK in\n";
const QByteArray kExamine =
    "C: {tag} EXAMINE INBOX\nS: * 1 EXISTS\nS: * OK [UIDVALIDITY 3] v\nS: * OK [UIDNEXT 6] n\n"
    "S: {tag} OK [READ-ONLY] done\n";
const QByteArray kFetch = "C: {tag} UID FETCH 1:* (UID BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])\n";
// With a header cache of the same UIDVALIDITY (empty here) the UIDs are asked for too.
const QByteArray kSignedIn = kGreeting + kLogIn + kExamine +
                             "C: {tag} UID SEARCH ALL\nS: * SEARCH 1\nS: {tag} OK\n" + kFetch;

QString imap_server(const ScriptedImapServer& server, const char* form = "imap://127.0.0.1:%1") {
    return QString(form).arg(server.port());
}

QString stem(const ScriptedImapServer& server) {
    return imap_server(server, "imap@127.0.0.1:%1");
}

MailboxAccount account(const ScriptedImapServer& server) {
    return {imap_server(server), "ann", {Credential::Kind::Password, "secret", {}}};
}

}  // namespace

class ImapScriptedTest : public QObject {
    Q_OBJECT
private slots:
    void faults_end_the_account_only_data() {
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<QString>("told");  // in the log, or the box's text
        QTest::addColumn<int>("lines");     // the account's; a plain server's first: "unencrypted"
        QTest::addColumn<bool>("login");    // whether LOGIN may be sent
        const auto row = [](const char* name, const QByteArray& transcript, const char* told,
                            int lines = 2, bool login = true) {
            QTest::newRow(name) << transcript << QString(told) << lines << login;
        };
        const QByteArray login = kGreeting + "C: {tag} LOGIN \"ann\" \"secret\"\nS: {tag} NO ";
        row("refused login", login + "[AUTHENTICATIONFAILED] no", "Error with password", 1);
        row("login unavailable", login + "[UNAVAILABLE] later",
            "the server refused LOGIN (NO [UNAVAILABLE] later)");
        row("NO to EXAMINE", kGreeting + kLogIn + "C: {tag} EXAMINE INBOX\nS: {tag} NO gone",
            "the server refused EXAMINE INBOX (NO gone)");
        row("BAD to FETCH", kSignedIn + "S: {tag} BAD Error in IMAP command",
            "the server refused UID FETCH (BAD Error in IMAP command)");
        row("BYE mid-session", kSignedIn + "S: * BYE shutting down\nclose",
            "the server ended the session (BYE shutting down) before the response to UID FETCH");
        row("stall", kSignedIn, "no response to UID FETCH within 0.4 s");
        const QByteArray literal =
            kSignedIn + "S: * 1 FETCH (UID 1 BODY[HEADER.FIELDS (FROM SUBJECT)] {";
        row("close mid-literal", literal + "40}\nS~ From: a@b\nclose",
            "the connection closed before the response to UID FETCH was complete");
        row("literal over the cap", literal + "300000}",
            "the response to UID FETCH went past its cap");
        row("unreadable response", kSignedIn + "S: )(",
            "a response that cannot be read (a response begins with neither");
        row("BYE greeting", "S: * BYE too busy", "would not talk: BYE too busy", 1, false);
        row("PREAUTH in clear", "S: * PREAUTH hi", "PREAUTH", 1, false);
        row("LOGINDISABLED without TLS", "S: * OK [CAPABILITY IMAP4rev1 LOGINDISABLED] hi",
            "LOGINDISABLED", 1, false);
        row("STARTTLS with injected data",
            "S: * OK [CAPABILITY IMAP4rev1 STARTTLS] hi\nC: {tag} STARTTLS\n"
            "S: {tag} OK go\nS: * OK [CAPABILITY IMAP4rev1] injected",
            "failed: more came after the server's answer to STARTTLS", 2, false);
        row("downgrade", "S: * OK [CAPABILITY IMAP4rev1] hi",
            "failed: it offered STARTTLS before and does not now", 2, false);
    }
    void faults_end_the_account_only() {
        QFETCH(QByteArray, transcript);
        QFETCH(QString, told);
        QFETCH(int, lines);
        QFETCH(bool, login);
        ScriptedImapServer server({transcript}), next;
        testing::CheckFixture check;
        check.write_accounts(imap_server(server).toUtf8() + "<>ann<>secret<>\r\n" +
                             imap_server(next).toUtf8() + "<>bob<>pw<>\r\n");
        const QByteArray at = stem(server).toUtf8();
        const QMap<QString, QByteArray> kept = {
            {".svr", "01-01-2026 00:00:00 a@x old\r\n"},
            {".hdr", "Ostrel IMAP header cache 1 " + at + "\r\nuidvalidity 3\r\n"},
            // Marked for STARTTLS where the server offers it or did before.
            {".tls", "Ostrel server security 1\r\n" + at + "\r\n" + (login ? "" : "STLS\r\n")}};
        for (auto it = kept.cbegin(); it != kept.cend(); ++it) {
            check.folder.write(stem(server) + it.key(), *it);
        }
        check.run();
        const QString log = check.log_text();
        QVERIFY2(log.contains(told) || check.prompts.contains(told), qPrintable(log));
        QVERIFY2(server.mismatch.isEmpty(), server.mismatch.constData());
        QCOMPARE(server.received.join('\n').contains("LOGIN"), login);
        for (auto it = kept.cbegin(); it != kept.cend(); ++it) {
            QCOMPARE(check.folder.read(stem(server) + it.key()), *it);
        }
        // The next account was visited, and its failure is its own line.
        QVERIFY2(next.connections == 1 && log.count('\n') == lines + 1 &&
                     log.endsWith("Can\u00b4t connect to IMAP " + imap_server(next) + "\r\n"),
                 qPrintable(log));
        QVERIFY(check.idle());
    }

    // A login with literals goes in pieces, each after a "+"; fields come literal, quoted or NIL.
    void literals_both_ways() {
        ScriptedImapServer server(
            {"S: * OK [CAPABILITY IMAP4rev1] hi\nC: {tag} LOGIN {7}\nS: + go\n"
             "C: j\xc3\xbcrgen \"secret\"\nS: {tag} OK in\n" +
             kExamine + kFetch +
             "S: * 1 FETCH (UID 4 BODY[HEADER.FIELDS (FROM SUBJECT)] {25}\n"
             "S: From: a@b\nS: Subject: \xe9t\xe9\nS: )\n"
             "S: * 2 FETCH (UID 5 BODY[HEADER.FIELDS (FROM SUBJECT)] \"Subject: q\")\n"
             "S: * 2 FETCH (FLAGS (\\Recent))\n"
             "S: * 3 FETCH (BODY[HEADER.FIELDS (FROM SUBJECT)] NIL UID 9)\nS: {tag} OK"});
        testing::CheckFixture check;
        check.write_accounts(imap_server(server).toUtf8() + "<>j\xc3\xbcrgen<>secret<>\r\n");
        check.run();
        QVERIFY2(server.mismatch.isEmpty(), server.mismatch.constData());
        QVERIFY2(check.log_text().count("\n") == 1, qPrintable(check.log_text()));  // in clear
        QCOMPARE(check.trace(), QString("\n 1 - a@b - \u00e9t\u00e9\n 2 -  - q\n 3 -  - "));
        QCOMPARE(check.folder.read(stem(server) + ".hdr"),
                 "Ostrel IMAP header cache 1 " + stem(server).toUtf8() +
                     "\r\nuidvalidity 3\r\n4\ta@b\t\xe9t\xe9\r\n5\t\tq\r\n9\t\t\r\n");
    }

    void idle_watcher_dialogue() {
        const QByteArray idle = "C: {tag} IDLE\nS: + idling\n", in = kGreeting + kLogIn;
        ScriptedImapServer server(
            {in + kExamine + idle + "S: * 1 EXISTS\nS: * 2 EXISTS\nC: DONE\nS: {tag} OK done\n" +
                 idle + "S: * 1 EXPUNGE\nS: * 2 EXISTS\npause 100\nclose",
             in +
                 "C: {tag} EXAMINE INBOX\nS: * OK [UIDVALIDITY 3] v\nS: * OK [UIDNEXT 8] n\n"
                 "S: {tag} OK\n" +
                 idle,
             "S: * OK [CAPABILITY IMAP4rev1] hi\n" + kLogIn + kExamine});
        testing::ContextFixture context;
        imap::IdleWatcher watcher(context.files, context.log, account(server),
                                  {2000, 300, 50, 400});
        QSignalSpy news(&watcher, &imap::IdleWatcher::new_mail);
        watcher.start();
        // More messages, more after an expunge; after the drop, those that came meanwhile.
        QTRY_COMPARE_WITH_TIMEOUT(news.size(), 3, 5000);
        QVERIFY(watcher.idling() && server.connections == 2);
        QCOMPARE(news.first(), QVariantList({imap_server(server), QString("ann")}));
        QVERIFY2(server.mismatch.isEmpty(), server.mismatch.constData());
        QCOMPARE(context.log_text().count("the idle connection dropped (the server closed"), 1);
        // Opened anew: a server without IDLE is left with one line, and not asked again.
        watcher.start();
        QTRY_VERIFY_WITH_TIMEOUT(context.log_text().contains("does not offer IDLE"), 5000);
        watcher.start();
        QTest::qWait(200);
        QVERIFY(server.connections == 3 && news.size() == 3);
        QCOMPARE(context.log_text().count("\r\n"), 2);
    }

    // Opening fails quietly and is retried, later each time; no login without the STARTTLS due.
    void idle_watcher_retries_quietly() {
        ScriptedImapServer server({kGreeting, kGreeting, kGreeting, kGreeting, kGreeting});
        testing::ContextFixture context;
        context.folder.write(stem(server) + ".tls", "Ostrel server security 1\r\n" +
                                                        stem(server).toUtf8() + "\r\nSTLS\r\n");
        imap::IdleWatcher watcher(context.files, context.log, account(server),
                                  {2000, 60000, 50, 200});
        watcher.start();
        QTRY_VERIFY_WITH_TIMEOUT(server.connections >= 5, 5000);
        QVERIFY(server.received.isEmpty() && !context.folder.exists("logfile.txt"));
        watcher.stop();
        const int connections = server.connections;
        QTest::qWait(400);
        QCOMPARE(server.connections, connections);
    }
};

QTEST_MAIN(ImapScriptedTest)
#include "imap_scripted_test.moc"
