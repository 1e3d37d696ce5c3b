#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include "app/form1.h"
#include "config/form9.h"
#include "core/resources.h"
#include "support/temp_folder.h"

using namespace ostrel;

namespace {

// A main window on a fresh folder whose message boxes are answered by the test.
struct Editor {
    testing::TempProgramFolder folder;
    QStringList texts;
    QStringList titles;
    PromptAnswer answer = PromptAnswer::Yes;
    Form1 form{folder.path(), folder.file("Ostrel"),
               [this](const QString& text, const QString& title, PromptIcon, PromptButtons) {
                   texts << text;
                   titles << title;
                   return answer;
               }};
    std::unique_ptr<Form9> window;

    explicit Editor(const QByteArray& accounts) {
        folder.write("lumetta_pop.cfg", accounts);
        // Tests see no keyring: that the passwords stay is told in keyring_test.
        form.state().told_passwords_stay = true;
        window = std::make_unique<Form9>(form.context(), form.passwords());
        window->load();
    }
    QByteArray file() const { return folder.read("lumetta_pop.cfg"); }
    QStringList servers() const {
        QStringList rows;
        for (int i = 0; i < window->lista->topLevelItemCount(); ++i) {
            rows << window->lista->topLevelItem(i)->text(0);
        }
        return rows;
    }
    void select(int row) { window->lista->topLevelItem(row)->setSelected(true); }
    void type(const QString& server, const QString& login = {}, const QString& password = {},
              const QString& words = {}) {
        window->Text3->setText(server);
        window->Text6->setText(login);
        window->Text7->setText(password);
        window->Text5->setText(words);
    }
    QStringList boxes() const {
        return {window->Text3->text(), window->Text6->text(), window->Text7->text(),
                window->Text5->text()};
    }
};

const QByteArray kTwoAccounts = "pop.a<>ann<>pa<>\r\npop.b<>bob<>pb<>urgent boss\r\n";

}  // namespace

class Form9Test : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { init_resources(); }

    void loads_the_file_and_hides_passwords() {
        Editor editor(kTwoAccounts);
        QCOMPARE(editor.servers(), (QStringList{"pop.a", "pop.b"}));
        QCOMPARE(editor.window->lista->topLevelItem(1)->text(3), QString("urgent boss"));
        QVERIFY(editor.window->lista->isColumnHidden(2));
        QCOMPARE(editor.window->Text7->echoMode(), QLineEdit::Password);
    }

    void save_appends_exactly_as_typed_data() {
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("only a server")
            << QStringList{"pop.c", "", "", ""} << QByteArray("pop.c<><><>\r\n");
        QTest::newRow("blanks and words kept") << QStringList{" pop.c ", "Ann", "p w", "a  b"}
                                               << QByteArray(" pop.c <>Ann<>p w<>a  b\r\n");
        QTest::newRow("a server of blanks passes")
            << QStringList{"  ", "x", "", ""} << QByteArray("  <>x<><>\r\n");
        QTest::newRow("non-ASCII") << QStringList{"pop.c", "joão", "ç", "relatório"}
                                   << QString("pop.c<>joão<>ç<>relatório\r\n").toUtf8();
    }
    void save_appends_exactly_as_typed() {
        QFETCH(QStringList, typed);
        QFETCH(QByteArray, line);
        Editor editor(kTwoAccounts);
        editor.type(typed[0], typed[1], typed[2], typed[3]);
        editor.window->Command1->click();
        QVERIFY(editor.texts.isEmpty());
        QCOMPARE(editor.file(), kTwoAccounts + line);
        QCOMPARE(editor.servers().size(), 3);
        QCOMPARE(editor.servers().last(), typed[0]);
        QCOMPARE(editor.boxes(), (QStringList{"", "", "", ""}));
        QVERIFY(editor.folder.exists(typed[0] + ".svr"));
        QCOMPARE(editor.folder.read(typed[0] + ".svr"), QByteArray());
    }

    void save_keeps_an_existing_seen_state_file() {
        Editor editor{QByteArray()};
        editor.folder.write("pop.a.svr", "seen before\r\n");
        editor.type("pop.a", "ann");
        editor.window->save();
        QCOMPARE(editor.folder.read("pop.a.svr"), QByteArray("seen before\r\n"));
    }

    void save_refuses_data() {
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty server") << QStringList{"", "ann", "pw", ""} << "Indique o Servidor";
        QTest::newRow("separator in login") << QStringList{"pop.c", "a<>b", "", ""} << "\"<>\"";
        QTest::newRow("CR in password") << QStringList{"pop.c", "", "p\rw", ""} << "line break";
        QTest::newRow("LF in search words") << QStringList{"pop.c", "", "", "a\nb"} << "line break";
        QTest::newRow("separator in server") << QStringList{"a<>b", "", "", ""} << "\"<>\"";
        QTest::newRow("slash in server") << QStringList{"../x", "", "", ""} << "server name";
        QTest::newRow("backslash in server") << QStringList{"a\\b", "", "", ""} << "server name";
        QTest::newRow("dot") << QStringList{".", "", "", ""} << "server name";
        QTest::newRow("dot dot") << QStringList{"..", "", "", ""} << "server name";
        QTest::newRow("tab in server") << QStringList{"pop\tc", "", "", ""} << "server name";
    }
    void save_refuses() {
        QFETCH(QStringList, typed);
        QFETCH(QString, message);
        Editor editor(kTwoAccounts);
        const QStringList before = QDir(editor.folder.path()).entryList(QDir::Files);
        editor.type(typed[0], typed[1], typed[2], typed[3]);
        editor.window->save();
        QCOMPARE(editor.texts.size(), 1);
        QVERIFY2(editor.texts[0].contains(message), qPrintable(editor.texts[0]));
        QCOMPARE(editor.titles[0], QString("Lumetta"));
        QCOMPARE(editor.file(), kTwoAccounts);
        QCOMPARE(QDir(editor.folder.path()).entryList(QDir::Files), before);
        QCOMPARE(editor.boxes(), typed);
    }

    void same_account_twice_then_one_delete_removes_both() {
        Editor editor(QByteArray("pop.z<>zed<><>\r\n"));
        for (int i = 0; i < 2; ++i) {
            editor.type("pop.a", "ann", "pw");
            editor.window->save();
        }
        QCOMPARE(editor.servers(), (QStringList{"pop.z", "pop.a", "pop.a"}));
        editor.select(2);
        editor.window->Command2->click();
        QCOMPARE(editor.texts, QStringList{"Are You shure ?"});
        QCOMPARE(editor.titles, QStringList{"Apagar Registo"});
        QCOMPARE(editor.servers(), QStringList{"pop.z"});
        QCOMPARE(editor.file(), QByteArray("pop.z<>zed<><>\r\n"));
    }

    void delete_answered_no_changes_nothing() {
        Editor editor(kTwoAccounts);
        editor.answer = PromptAnswer::No;
        editor.select(0);
        editor.window->delete_row();
        QCOMPARE(editor.texts.size(), 1);
        QCOMPARE(editor.file(), kTwoAccounts);
        QCOMPARE(editor.servers(), (QStringList{"pop.a", "pop.b"}));
    }

    void edit_and_delete_without_a_selection_do_nothing_data() {
        QTest::addColumn<QByteArray>("accounts");
        QTest::newRow("rows, none selected") << kTwoAccounts;
        QTest::newRow("empty list") << QByteArray();
    }
    void edit_and_delete_without_a_selection_do_nothing() {
        QFETCH(QByteArray, accounts);
        Editor editor(accounts);
        editor.window->Command3->click();
        editor.window->Command2->click();
        QVERIFY(editor.texts.isEmpty());
        QCOMPARE(editor.file(), accounts);
        QCOMPARE(editor.boxes(), (QStringList{"", "", "", ""}));
        QVERIFY(editor.window->editing_key().isEmpty());
    }

    void edit_then_quit_leaves_the_file_alone() {
        Editor editor(kTwoAccounts);
        editor.window->show();
        editor.select(1);
        editor.window->Command3->click();
        QCOMPARE(editor.boxes(), (QStringList{"pop.b", "bob", "pb", "urgent boss"}));
        QCOMPARE(editor.file(), kTwoAccounts);
        editor.window->Command4->click();
        QVERIFY(!editor.window->isVisible());
        QCOMPARE(editor.file(), kTwoAccounts);
    }

    void edit_then_save_replaces_the_account_at_the_end_data() {
        QTest::addColumn<QString>("new_login");
        QTest::addColumn<QByteArray>("expected");
        // The odd hand-written first line is kept byte for byte by the rewrite.
        QTest::newRow("unchanged: moves to the end")
            << "ann" << QByteArray("x<>y<>z<>w<>extra\r\npop.b<>bob<>pb<>\r\npop.a<>ann<>pa<>\r\n");
        QTest::newRow("login changed: old line gone")
            << "anna"
            << QByteArray("x<>y<>z<>w<>extra\r\npop.b<>bob<>pb<>\r\npop.a<>anna<>pa<>\r\n");
    }
    void edit_then_save_replaces_the_account_at_the_end() {
        QFETCH(QString, new_login);
        QFETCH(QByteArray, expected);
        Editor editor("x<>y<>z<>w<>extra\r\npop.a<>ann<>pa<>\r\npop.b<>bob<>pb<>\r\n");
        editor.select(1);
        editor.window->edit();
        editor.window->Text6->setText(new_login);
        editor.window->save();
        QCOMPARE(editor.file(), expected);
        QCOMPARE(editor.servers(), (QStringList{"x", "pop.b", "pop.a"}));
        QVERIFY(editor.window->editing_key().isEmpty());
        // A later Save is a plain new account again.
        editor.type("pop.c");
        editor.window->save();
        QCOMPARE(editor.file(), expected + "pop.c<><><>\r\n");
    }

    void edit_then_refused_save_keeps_the_account() {
        Editor editor(kTwoAccounts);
        editor.select(0);
        editor.window->edit();
        editor.window->Text3->clear();
        editor.window->save();
        QCOMPARE(editor.file(), kTwoAccounts);
    }

    void a_short_hand_written_line_stops_the_list_and_is_logged() {
        Editor editor("pop.a<>ann<>pa<>\r\npop.b<>bob\r\npop.c<>cy<><>\r\n");
        QCOMPARE(editor.servers(), QStringList{"pop.a"});
        QVERIFY(editor.folder.read("logfile.txt").contains("Fatal Err 006 "));
        QCOMPARE(editor.form.tray().shown_image(), TrayImage::Error);
        // The window still works.
        editor.type("pop.d");
        editor.window->save();
        QVERIFY(editor.file().endsWith("pop.d<><><>\r\n"));
    }
};

QTEST_MAIN(Form9Test)
#include "form9_test.moc"
