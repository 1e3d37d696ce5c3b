#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QtTest>

#include "app/form1.h"
#include "core/date_time_text.h"
#include "core/resources.h"
#include "notify/mail_evaluation.h"
#include "notify/nota_form.h"
#include "notify/nota_manager.h"
#include "notify/remetentes.h"
#include "pop3/display_text.h"
#include "support/temp_folder.h"

using namespace ostrel;

namespace {

struct Message {
    QString from;
    QString subject;
};

const QString kServer = "pop.example.com";

struct Main {
    testing::TempProgramFolder folder;
    Form1 form{
        folder.path(), folder.file("Ostrel"),
        [](const QString&, const QString&, PromptIcon, PromptButtons) { return PromptAnswer::Ok; }};

    // One account's check as the driver leaves it before the report step.
    void check(const QVector<Message>& messages, const QString& words = {},
               const QString& server = kServer) {
        AppState& state = form.state();
        state.server = server;
        state.search_words = words;
        state.msg_count = messages.size();
        for (int k = 1; k <= messages.size(); ++k) {
            store_decoded(state.messages, k - 1, k, messages[k - 1].from, messages[k - 1].subject);
        }
        process_headers(form.context(), form.notes(), form.Text1);
    }
    NotaManager& notes() { return form.notes(); }
    QString log() const { return QString::fromUtf8(folder.read("logfile.txt")); }
    QByteArray seen_state(const QString& server = kServer) const {
        return folder.read(server + ".svr");
    }
};

const QVector<Message> kThree = {{"Ann Lee <ann@example.org>", "Lunch"},
                                 {"<bob@example.org>", "Report"},
                                 {"carla@example.org", "Photos"}};

// The lines of a seen-state file with their date and time cut off.
QStringList seen_lines(const QByteArray& content) {
    QStringList lines = QString::fromUtf8(content).split("\r\n");
    lines.removeLast();
    for (QString& line : lines) {
        line = line.mid(date_time_text().size() + 1);
    }
    return lines;
}

}  // namespace

class MailEvaluationTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { init_resources(); }

    void new_mail_is_reported_once() {
        Main main;  // no seen-state file yet: everything is new
        const QDateTime before = QDateTime::currentDateTime();
        main.check(kThree);
        QCOMPARE(main.notes().nota_count(), 1);
        NotaForm* nota = main.notes().newest();
        QCOMPARE(nota->windowTitle(), QString("nota"));
        QVERIFY(
            QStringList({date_time_text(before), date_time_text()}).contains(nota->Label1->text()));
        QCOMPARE(nota->Label2->text(), QString("You have  3 new message(s)"));
        QCOMPARE(nota->Label3->text(), kServer);
        QVERIFY(nota->Label4->text().isEmpty());
        QCOMPARE(nota->Label5->text(),
                 QString("\r\nAnn Lee\r\n<bob@example.org>\r\ncarla@example.org"));
        QVERIFY(nota->Command1->isVisibleTo(nota));
        QCOMPARE(seen_lines(main.seen_state()),
                 QStringList({"Ann Lee <ann@example.org> Lunch", "<bob@example.org> Report",
                              "carla@example.org Photos"}));
        QCOMPARE(main.form.state().msg_count, 0);
        QCOMPARE(main.form.state().messages.size(), 0);

        // The same mailbox again: nothing new, the state rewritten all the same.
        main.folder.write(kServer + ".svr", main.seen_state() + "stale\r\n");
        main.check(kThree);
        QCOMPARE(main.notes().nota_count(), 1);
        QCOMPARE(seen_lines(main.seen_state()).size(), 3);
        QCOMPARE(main.form.state().senders_text, QString());
        // An empty mailbox empties the state.
        main.check({});
        QCOMPARE(main.notes().nota_count(), 1);
        QCOMPARE(main.seen_state(), QByteArray());
        QVERIFY(!main.log().contains("Fatal"));
    }

    void search_words_report_every_match_at_every_check() {
        Main main;
        const QVector<Message> mailbox = {{"Lee Ann", "Meeting"}, {"bob@example.org", "Lunch"}};
        for (int check = 1; check <= 2; ++check) {
            main.check(mailbox, "lee a  nnmee LUNCH lee ");
            QCOMPARE(main.notes().nota_count(), 4 * check);
        }
        const QStringList first_lines = {"One message Match: lee", "One message Match: nnmee",
                                         "One message Match: lee", "One message Match: LUNCH"};
        for (int k = 1; k <= 4; ++k) {
            NotaForm* nota = main.notes().nota_list(k);
            QCOMPARE(nota->windowTitle(), QString("note"));
            QCOMPARE(nota->Label1->text(), first_lines[k - 1]);
            QCOMPARE(nota->Label4->text(), kServer);
            QVERIFY(!nota->Command1->isVisibleTo(nota));
            QCOMPARE(nota->Label5->text(), QString("Label5"));
        }
        QCOMPARE(main.notes().nota_list(1)->Label2->text(), QString("From: Lee Ann"));
        QCOMPARE(main.notes().nota_list(1)->Label3->text(), QString("Subject: Meeting"));
        QCOMPARE(main.notes().nota_list(4)->Label2->text(), QString("From: bob@example.org"));
        QCOMPARE(main.notes().nota_list(4)->Label3->text(), QString("Subject: Lunch"));
        QCOMPARE(seen_lines(main.seen_state()).size(), 2);
    }

    // STAT counted 4; the blocks of messages 2 and 4 never arrived.
    void entries_never_filled_count_nowhere() {
        Main main;
        AppState& state = main.form.state();
        main.form.Text1->setPlainText("earlier");
        state.server = kServer;
        state.msg_count = 4;
        store_decoded(state.messages, 0, 1, "Ann", "one");
        store_decoded(state.messages, 2, 3, "Cy", "three");
        process_headers(main.form.context(), main.form.notes(), main.form.Text1);
        QCOMPARE(main.form.Text1->toPlainText(),
                 QString("earlier\n 1 - Ann - one\n 3 - Cy - three"));
        QCOMPARE(main.notes().newest()->Label2->text(), QString("You have  2 new message(s)"));
        QCOMPARE(seen_lines(main.seen_state()), QStringList({"Ann one", "Cy three"}));
    }

    // Markup from a server shows as it stands; a long line is cut to fit, whole in its tool tip.
    void server_text_shows_as_plain_text() {
        Main main;
        const QString subject = "<b>Quarterly</b> figures <img src=x> for the northern region";
        main.check({{"<i>Ann</i>", subject}}, "quarterly");
        NotaForm* nota = main.notes().newest();
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

    void unsafe_server_names_name_no_file_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("words");
        QTest::addColumn<int>("popups");
        QTest::newRow("parent folder") << "../outside"
                                       << "" << 0;
        QTest::newRow("control character") << "a\nb"
                                           << "" << 0;
        QTest::newRow("search words still match") << "../outside"
                                                  << "lee" << 1;
    }
    void unsafe_server_names_name_no_file() {
        QFETCH(QString, server);
        QFETCH(QString, words);
        QFETCH(int, popups);
        Main main;
        QDir parent(main.folder.path());
        parent.cdUp();
        main.check({{"Ann Lee <ann@example.org>", "Hi"}}, words, server);
        QCOMPARE(main.notes().nota_count(), popups);
        QCOMPARE(QDir(main.folder.path()).entryList(QDir::Files), QStringList{"logfile.txt"});
        QVERIFY(!parent.exists("outside.svr"));
        QCOMPARE(main.log().count("Fatal Err 005 "), 1);
        QVERIFY(!main.log().contains("Fatal Err 005 \r\n"));
        QCOMPARE(main.form.state().msg_count, 0);
    }

    // A name too long for the file system: reading finds no file, writing
    // fails. Which code is logged depends on whether new mail was found.
    void failed_rewrite_is_logged_by_the_right_step_data() {
        QTest::addColumn<QString>("words");
        QTest::addColumn<int>("messages");
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("cleared");
        QTest::newRow("new mail found") << "" << 2 << "Fatal Err 004 " << false;
        QTest::newRow("no new mail") << "" << 0 << "Fatal Err 005 " << true;
        QTest::newRow("search words") << "lee" << 2 << "Fatal Err 005 " << true;
    }
    void failed_rewrite_is_logged_by_the_right_step() {
        QFETCH(QString, words);
        QFETCH(int, messages);
        QFETCH(QString, code);
        QFETCH(bool, cleared);
        Main main;
        main.check(kThree.mid(0, messages), words, QString(300, 'x'));
        QCOMPARE(main.notes().nota_count(), messages > 0 ? 1 : 0);
        QCOMPARE(main.log().count("Fatal Err 00"), 1);
        QVERIFY2(main.log().contains(code), qPrintable(main.log()));
        QCOMPARE(main.form.state().msg_count == 0, cleared);
    }
};

QTEST_MAIN(MailEvaluationTest)
#include "mail_evaluation_test.moc"
