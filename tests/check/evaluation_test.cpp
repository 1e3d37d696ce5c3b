#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QtTest>

#include "check/mail_evaluation.h"
#include "core/data_files.h"
#include "core/date_time_text.h"
#include "core/resources.h"
#include "desktop/message_box_prompt.h"
#include "mail/display_text.h"
#include "notify/nota_form.h"
#include "notify/nota_manager.h"
#include "notify/remetentes.h"
#include "notify/search_matching.h"
#include "notify/seen_state.h"
#include "support/context_fixture.h"

using namespace ostrel;

namespace {

using Messages = QList<QPair<QString, QString>>;  // From and Subject as they arrived

MessageTable table(const Messages& from_subject) {
    MessageTable messages;
    for (int i = 0; i < from_subject.size(); ++i) {
        store_decoded(messages, i, i + 1, from_subject[i].first, from_subject[i].second);
    }
    return messages;
}

const QString kServer = "pop.example.com";

// A popup's title, its lines and whether its button shows, joined by "|".
QString shown_by(const NotaForm* nota) {
    return QStringList({nota->windowTitle(), nota->Label1->text(), nota->Label2->text(),
                        nota->Label3->text(), nota->Label4->text(), nota->Label5->text(),
                        nota->Command1->isVisibleTo(nota) ? "button" : ""})
        .join('|');
}

// The evaluation step with the popups and the trace it writes to.
struct Main : testing::ContextFixture {
    QWidget owner;
    NotaManager notes{log, &owner};
    QTextEdit Text1;

    // One account whose mailbox was read as `messages`.
    void check(const Messages& messages, const QString& words = {},
               const QString& server = kServer) {
        const MessageTable read = table(messages);
        process_headers(files, log, notes, &Text1, {server, words, read, read.size()});
    }
    QByteArray seen_state(const QString& server = kServer) const {
        return folder.read(server + ".svr");
    }
};

const Messages kThree = {{"Ann Lee <ann@example.org>", "Lunch"},
                         {"<bob@example.org>", "Report"},
                         {"carla@example.org", "Photos"}};

}  // namespace

// The rules that tell new mail and matches, then the step that reports them
// after a check: popups, the seen-state file, the log.
class EvaluationTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { init_resources(); }

    void new_mail_detection_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<int>("new_count");
        QTest::addColumn<QString>("senders");
        const auto row = [](const char* name, const QByteArray& file, const QString& subject,
                            int new_count, const QString& senders = "",
                            const QString& from = "Ann Lee <ann@example.org>") {
            QTest::newRow(name) << file << from << subject << new_count << senders;
        };
        const QString ann = "\r\nAnn Lee";
        row("empty file: all new", "", "Hello", 1, ann);
        row("part of an old subject is seen", "1/1/26 10:00:00 x Re: Hello\r\n", "Hello", 0);
        row("longer than an old subject is new", "1/1/26 10:00:00 x Hello\r\n", "Re: Hello", 1,
            ann);
        row("case matters", "1/1/26 10:00:00 x hello\r\n", "Hello", 1, ann);
        row("subject equal to a date is seen", "1/1/26 10:00:00 x y\r\n", "1/1/26", 0);
        row("lines joined without separators", "d t a One\r\nTwo b\rThree\r\n", "OneTwo bThree", 0);
        row("LF does not join", "d t a One\nTwo\r\n", "OneTwo", 1, ann);
        row("file read as Latin-1", "d t a \xe9t\xe9\r\n", "\u00e9t\u00e9", 0);
        row("empty subject, file not empty: seen", "d t a b\r\n", "", 0);
        row("empty subject, empty file: new", "", "", 1, ann);
        row("address without a name: the address", "", "s", 1, "\r\na@b", "<a@b>");
        row("decoded name", "", "s", 1, "\r\nJ\u00fcrgen", "=?UTF-8?Q?J=C3=BCrgen?= <j@b>");
        row("empty From adds no line", "", "s", 1, "", "");
    }
    void new_mail_detection() {
        QFETCH(QByteArray, file);
        QFETCH(QString, from);
        QFETCH(QString, subject);
        QFETCH(int, new_count);
        QFETCH(QString, senders);
        const NewMailResult result =
            detect_new_mail(seen_text_from(file), table({{from, subject}}), 1);
        QCOMPARE(result.new_count, new_count);
        QCOMPARE(result.senders_text, senders);
    }

    // Korean times hold letters outside Latin-1; header bytes stay as they came.
    void rewrite_keeps_server_bytes_and_round_trips() {
        QLocale::setDefault(QLocale(QLocale::Korean, QLocale::SouthKorea));
        testing::TempProgramFolder folder;
        // STAT counted 3; the third header block never arrived.
        const MessageTable messages =
            table({{"Ann <a@b>", "Caf\u00e9"}, {"Bob", "Report, Q3 - final"}});
        const QString path = folder.file("mail.example.svr");
        const QString before = date_time_text();
        QVERIFY(write_seen_state(path, seen_state_content(messages, 3)).isEmpty());
        const QStringList moments = {before, date_time_text()};
        QLocale::setDefault(QLocale::system());
        const QList<QByteArray> lines = folder.read("mail.example.svr").split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].endsWith(" Ann <a@b> Caf\xe9\r") &&
                lines[1].endsWith(" Bob Report, Q3 - final\r"));
        const QString written = QString::fromUtf8(lines[0].left(lines[0].indexOf(" Ann")));
        QVERIFY2(moments.contains(written), qPrintable(written));
        SeenText seen;
        QVERIFY(load_seen_state(path, &seen).isEmpty());
        QCOMPARE(detect_new_mail(seen, messages, 3).new_count, 0);
    }

    void search_words_data() {
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QStringList>("matches");
        const auto row = [](const char* name, const QString& words, const QStringList& matches,
                            const QString& from = "Ann Lee <ann@example.org>",
                            const QString& subject = "Hi") {
            QTest::newRow(name) << words << from << subject << matches;
        };
        row("blanks only", "   ", {});
        row("tab stays inside a word", "lee\tx", {});
        row("accents in an encoded From", "jürgen café", {"jürgen", "café"},
            "=?UTF-8?B?SsO8cmdlbg==?= <j@b>", "=?ISO-8859-1?Q?Caf=E9?=");
        row("raw UTF-8 subject", "grüße", {"grüße"}, "a@b",
            QString::fromLatin1("Gr\xc3\xbc\xc3\x9f") + "e");
        row("the raw text still matches", "utf-8 =c3", {"utf-8", "=c3"},
            "=?UTF-8?Q?J=C3=BCrgen?= <j@b>", "");
        row("locale upper case", "JOÃO", {"JOÃO"}, "joão", "");
    }
    void search_words() {
        QFETCH(QString, words);
        QFETCH(QString, from);
        QFETCH(QString, subject);
        QFETCH(QStringList, matches);
        QStringList found;
        for (const SearchMatch& match : find_matches(words, table({{from, subject}}), 1)) {
            found << match.word;
        }
        QCOMPARE(found, matches);
    }

    void new_mail_is_reported_once() {
        Main main;  // no seen-state file yet: everything is new
        const QString before = date_time_text();
        main.check(kThree);
        QCOMPARE(main.notes.nota_count(), 1);
        const QString shown = shown_by(main.notes.newest());
        QVERIFY(shown.startsWith("nota|" + before) || shown.startsWith("nota|" + date_time_text()));
        QVERIFY2(shown.endsWith("|You have  3 new message(s)|" + kServer +
                                "||\r\nAnn Lee\r\nbob@example.org\r\ncarla@example.org|button"),
                 qPrintable(shown));
        QCOMPARE(main.seen(kServer),
                 QByteArrayList({"Ann Lee <ann@example.org> Lunch\r", "<bob@example.org> Report\r",
                                 "carla@example.org Photos\r", ""}));

        // The same mailbox again: nothing new, the state rewritten all the same.
        main.folder.write(kServer + ".svr", main.seen_state() + "stale\r\n");
        main.check(kThree);
        QCOMPARE(main.seen(kServer).size(), 4);
        // An empty mailbox empties the state.
        main.check({});
        QCOMPARE(main.notes.nota_count(), 1);
        QCOMPARE(main.seen_state(), QByteArray());
        QVERIFY(!main.log_text().contains("Fatal"));
    }

    // Matches come message by message, each in the order of the words.
    void search_words_report_every_match_at_every_check() {
        Main main;
        const Messages mailbox = {{"Lee Ann", "Meeting"}, {"bob@example.org", "Lunch"}};
        for (int check = 1; check <= 2; ++check) {
            main.check(mailbox, "lee a  nnmee LUNCH lee ");
            QCOMPARE(main.notes.nota_count(), 4 * check);
        }
        QString shown;
        for (int k = 1; k <= 4; ++k) {
            shown += shown_by(main.notes.nota_list(k)).remove("note|One message Match: ") + '\n';
        }
        const QString tail = "|" + kServer + "|Label5|\n",
                      meeting = "|From: Lee Ann|Subject: Meeting";
        QCOMPARE(shown, "lee" + meeting + tail + "nnmee" + meeting + tail + "lee" + meeting + tail +
                            "LUNCH|From: bob@example.org|Subject: Lunch" + tail);
        QCOMPARE(main.seen(kServer).size(), 3);
    }

    // Markup from a server shows as it stands; a long line is cut to fit, whole in its tool tip.
    void server_text_shows_as_plain_text() {
        Main main;
        const QString subject = "<b>Quarterly</b> figures <img src=x> for the northern region";
        main.check({{"<i>Ann</i>", subject}}, "quarterly");
        NotaForm* nota = main.notes.newest();
        const QLabel* line = nota->Label3;
        QVERIFY(line->text().startsWith("Subject: <b>Quarterly"));
        QVERIFY(line->text().endsWith(QChar(0x2026)));
        QVERIFY(line->fontMetrics().horizontalAdvance(line->text()) <= line->width());
        QCOMPARE(QTextDocumentFragment::fromHtml(line->toolTip()).toPlainText(),
                 "Subject: " + subject);
        for (const QLabel* label : {nota->Label1, nota->Label2, nota->Label3, nota->Label4,
                                    nota->novaform2("remete", "", "<b>pop</b>")->Label1}) {
            QCOMPARE(label->textFormat(), Qt::PlainText);
        }
        Qt::TextFormat boxed = Qt::AutoText;
        QTimer::singleShot(0, [&boxed] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            boxed = box->textFormat();
            box->accept();
        });
        message_box_prompt()("cannot write <b>x</b>.svr", {}, PromptIcon::None, PromptButtons::Ok);
        QCOMPARE(boxed, Qt::PlainText);
    }

    // A server name that would name a file elsewhere, or none, is written to
    // no file; the search words still match. A name too long for the file
    // system fails to be written, logged by the step that found new mail or not.
    void seen_state_not_written_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("words");
        QTest::addColumn<int>("messages");
        QTest::addColumn<int>("popups");
        QTest::addColumn<QString>("code");
        for (const QString& unsafe :
             {QString("../outside"), QString("a\nb"), QString("a\\b"), QString("/tmp/x"),
              QString("."), QString(".."), QString(QChar(0)) + "x"}) {
            QTest::newRow(qPrintable(QString(unsafe).replace(QChar(0), "NUL")))
                << unsafe << QString() << 1 << 0 << "Fatal Err 005 ";
        }
        QTest::newRow("unsafe, search words") << "../outside"
                                              << "lee" << 1 << 1 << "Fatal Err 005 ";
        const QString too_long(300, 'x');
        QTest::newRow("too long, new mail") << too_long << "" << 2 << 1 << "Fatal Err 004 ";
        QTest::newRow("too long, no new mail") << too_long << "" << 0 << 0 << "Fatal Err 005 ";
        QTest::newRow("too long, search words") << too_long << "lee" << 2 << 1 << "Fatal Err 005 ";
    }
    void seen_state_not_written() {
        QFETCH(QString, server);
        QFETCH(QString, words);
        QFETCH(int, messages);
        QFETCH(int, popups);
        QFETCH(QString, code);
        Main main;
        main.check(kThree.mid(0, messages), words, server);
        QCOMPARE(main.notes.nota_count(), popups);
        QCOMPARE(QDir(main.folder.path()).entryList(QDir::Files), QStringList{"logfile.txt"});
        QVERIFY(server.contains(QChar(0)) ||  // no such path at all
                !QFile::exists(QDir(main.folder.path()).filePath(server + ".svr")));
        QCOMPARE(main.log_text().count("Fatal Err 00"), 1);
        QVERIFY2(main.log_text().contains(code) && !main.log_text().contains(code + "\r\n"),
                 qPrintable(main.log_text()));
    }
};

QTEST_MAIN(EvaluationTest)
#include "evaluation_test.moc"
