// The accounts editor (Form9), the options (general_form) and the log viewer (menu1).
#include <QtTest>
#include <QtWidgets>

#include "config/form9.h"
#include "config/general_form.h"
#include "config/password_store.h"
#include "core/resources.h"
#include "desktop/log_text.h"
#include "desktop/menu1.h"
#include "support/context_fixture.h"

using namespace ostrel;

namespace {

// The windows' context on a fresh folder, with its own autostart folder.
struct Main : testing::ContextFixture {
    QTemporaryDir config_home;
    QWidget owner;
    PasswordStore passwords;
    std::unique_ptr<Form9> editor;

    Main() {
        answer = PromptAnswer::Yes;
        qputenv("XDG_CONFIG_HOME", config_home.path().toUtf8());
    }
    explicit Main(const QByteArray& accounts) : Main() {
        folder.write("lumetta_pop.cfg", accounts);
        // No keyring in these tests: that the passwords stay is told in keyring_test.
        state.told_passwords_stay = true;
        editor = std::make_unique<Form9>(context, passwords);
        editor->load();
    }
    GeneralForm* options(const QByteArray* settings) {
        if (settings != nullptr) {
            folder.write("general.cfg", *settings);
        }
        state.check_interval = "10";
        state.start_with_windows = "1";
        auto* window = new GeneralForm(context, folder.file("Ostrel"), &owner);
        window->load();
        window->show();
        return window;
    }
    Menu1* viewer(const QByteArray* log_content) {
        if (log_content != nullptr) {
            folder.write("logfile.txt", *log_content);
        }
        auto* window = new Menu1(context, {}, &owner);
        window->load();
        return window;
    }
    QByteArray file() const { return folder.read("lumetta_pop.cfg"); }
    QStringList servers() const {
        QStringList rows;
        for (int i = 0; i < editor->lista->topLevelItemCount(); ++i) {
            rows << editor->lista->topLevelItem(i)->text(0);
        }
        return rows;
    }
    void select(int row) { editor->lista->topLevelItem(row)->setSelected(true); }
    void type(const QStringList& boxes) {
        editor->Text3->setText(boxes.value(0));
        editor->Text6->setText(boxes.value(1));
        editor->Text7->setText(boxes.value(2));
        editor->Text5->setText(boxes.value(3));
    }
    QStringList boxes() const {
        return {editor->Text3->text(), editor->Text6->text(), editor->Text7->text(),
                editor->Text5->text()};
    }
};

const QByteArray kTwoAccounts = "pop.a<>ann<>pa<>\r\npop.b<>bob<>pb<>urgent boss\r\n";

}  // namespace

class WindowsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { init_resources(); }

    void editor_saves_a_new_account_as_typed_data() {
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("only a server")
            << QStringList{"pop.c", "", "", ""} << QByteArray("pop.c<><><>\r\n");
        QTest::newRow("blanks and words kept") << QStringList{" pop.c ", "Ann", "p w", "a  b"}
                                               << QByteArray(" pop.c <>Ann<>p w<>a  b\r\n");
        QTest::newRow("non-ASCII") << QStringList{"pop.c", "joão", "ç", "relatório"}
                                   << QString("pop.c<>joão<>ç<>relatório\r\n").toUtf8();
    }
    void editor_saves_a_new_account_as_typed() {
        QFETCH(QStringList, typed);
        QFETCH(QByteArray, line);
        Main main(kTwoAccounts);
        QCOMPARE(main.editor->lista->topLevelItem(1)->text(3), QString("urgent boss"));
        QVERIFY(main.editor->lista->isColumnHidden(2) &&
                main.editor->Text7->echoMode() == QLineEdit::Password);
        main.type(typed);
        main.editor->Command1->click();
        QVERIFY(main.prompts.isEmpty());
        QCOMPARE(main.file(), kTwoAccounts + line);
        QCOMPARE(main.servers(), QStringList({"pop.a", "pop.b", typed[0]}));
        QCOMPARE(main.boxes(), (QStringList{"", "", "", ""}));
        QVERIFY(main.folder.exists(typed[0] + ".svr") &&
                main.folder.read(typed[0] + ".svr").isEmpty());
    }

    void editor_refuses_data() {
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty server") << QStringList{"", "ann", "pw", ""} << "Indique o Servidor";
        QTest::newRow("separator in login") << QStringList{"pop.c", "a<>b", "", ""} << "\"<>\"";
        QTest::newRow("CR in password") << QStringList{"pop.c", "", "p\rw", ""} << "line break";
        QTest::newRow("LF in search words") << QStringList{"pop.c", "", "", "a\nb"} << "line break";
        QTest::newRow("separator in server") << QStringList{"a<>b", "", "", ""} << "\"<>\"";
        QTest::newRow("slash in server") << QStringList{"../x", "", "", ""} << "server name";
    }
    void editor_refuses() {
        QFETCH(QStringList, typed);
        QFETCH(QString, message);
        Main main(kTwoAccounts);
        const QStringList before = QDir(main.folder.path()).entryList(QDir::Files);
        main.type(typed);
        main.editor->save();
        QCOMPARE(main.prompts.size(), 1);
        QVERIFY2(main.prompts[0].contains(message), qPrintable(main.prompts[0]));
        QCOMPARE(main.prompt_titles[0], QString("Lumetta"));
        QCOMPARE(main.file(), kTwoAccounts);
        QCOMPARE(QDir(main.folder.path()).entryList(QDir::Files), before);
        QCOMPARE(main.boxes(), typed);
    }

    // No check for duplicates; one Delete takes every line of the account.
    void editor_same_account_twice_then_one_delete_removes_both() {
        Main main(QByteArray("pop.z<>zed<><>\r\n"));
        main.folder.write("pop.a.svr", "seen before\r\n");
        for (int i = 0; i < 2; ++i) {
            main.type({"pop.a", "ann", "pw"});
            main.editor->save();
        }
        QCOMPARE(main.folder.read("pop.a.svr"), QByteArray("seen before\r\n"));
        QCOMPARE(main.servers(), (QStringList{"pop.z", "pop.a", "pop.a"}));
        // Without a selection, Edit and Delete do nothing.
        main.editor->Command3->click();
        main.editor->Command2->click();
        QVERIFY(main.prompts.isEmpty());
        for (const PromptAnswer answer : {PromptAnswer::No, PromptAnswer::Yes}) {
            main.answer = answer;
            main.select(2);
            main.editor->Command2->click();
            QCOMPARE(main.servers().size(), answer == PromptAnswer::No ? 3 : 1);
        }
        QCOMPARE(main.prompts + main.prompt_titles,
                 QStringList(
                     {"Are You shure ?", "Are You shure ?", "Apagar Registo", "Apagar Registo"}));
        QCOMPARE(main.file(), QByteArray("pop.z<>zed<><>\r\n"));
    }

    // The odd hand-written first line is kept byte for byte by the rewrite;
    // Quit while editing writes nothing.
    void editor_edit_then_save_replaces_the_account_at_the_end() {
        for (const QString new_login : {"ann", "anna"}) {
            const QByteArray before =
                "x<>y<>z<>w<>extra\r\npop.a<>ann<>pa<>\r\npop.b<>bob<>pb<>\r\n";
            const QByteArray expected = "x<>y<>z<>w<>extra\r\npop.b<>bob<>pb<>\r\npop.a<>" +
                                        new_login.toUtf8() + "<>pa<>\r\n";
            Main main(before);
            main.select(1);
            main.editor->Command3->click();
            QCOMPARE(main.boxes(), (QStringList{"pop.a", "ann", "pa", ""}));
            main.editor->Command4->click();
            QCOMPARE(main.file(), before);
            // A refused Save keeps the account being edited.
            main.editor->Text3->clear();
            main.editor->save();
            QCOMPARE(main.file(), before);
            main.editor->Text3->setText("pop.a");
            main.editor->Text6->setText(new_login);
            main.editor->save();
            QCOMPARE(main.file(), expected);
            QCOMPARE(main.servers(), (QStringList{"x", "pop.b", "pop.a"}));
            QVERIFY(main.editor->editing_key().isEmpty());
            // A later Save is a plain new account again.
            main.type({"pop.c"});
            main.editor->save();
            QCOMPARE(main.file(), expected + "pop.c<><><>\r\n");
        }
    }

    void editor_stops_at_a_short_hand_written_line_and_logs_it() {
        Main main("pop.a<>ann<>pa<>\r\npop.b<>bob\r\npop.c<>cy<><>\r\n");
        QCOMPARE(main.servers(), QStringList{"pop.a"});
        QVERIFY(main.folder.read("logfile.txt").contains("Fatal Err 006 ") &&
                main.fatal_lines == 1);
        // The window still works.
        main.type({"pop.d"});
        main.editor->save();
        QVERIFY(main.file().endsWith("pop.d<><><>\r\n"));
    }

    // A failed opening leaves Save working.
    void options_show_the_file_data() {
        QTest::addColumn<QByteArray>("settings");  // "-": no file
        QTest::addColumn<QString>("shown");        // the interval, then x when ticked
        QTest::addColumn<bool>("fatal");
        QTest::newRow("flag off") << QByteArray("5\r\n0\r\n") << "5" << false;
        QTest::newRow("empty interval") << QByteArray("\r\n1\r\n") << "x" << false;
        QTest::newRow("line 2 missing") << QByteArray("7\r\n") << "7" << true;
        QTest::newRow("comma moves 5 into line 2") << QByteArray("1,5\r\n1\r\n") << "1" << true;
        QTest::newRow("no file") << QByteArray("-") << "" << true;
    }
    void options_show_the_file() {
        QFETCH(QByteArray, settings);
        QFETCH(QString, shown);
        QFETCH(bool, fatal);
        Main main;
        GeneralForm* options = main.options(settings == "-" ? nullptr : &settings);
        QCOMPARE(options->Text1->text() + (options->Check1->isChecked() ? "x" : ""), shown);
        QCOMPARE(main.folder.read("logfile.txt").contains("Fatal Err 007 "), fatal);
        QVERIFY(main.prompts.isEmpty());
        options->Command1->click();
        QVERIFY(main.folder.exists("general.cfg"));
    }

    // The interval takes effect at the next start only; Exit writes nothing.
    void options_save_writes_and_applies_data() {
        QTest::addColumn<QString>("interval");
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<QByteArray>("written");  // empty: Exit instead of Save
        QTest::newRow("box cleared") << "10" << false << QByteArray("10\r\n0\r\n");
        QTest::newRow("interval changed") << "5" << true << QByteArray("5\r\n1\r\n");
        QTest::newRow("not a number, as typed")
            << " 7 min" << false << QByteArray(" 7 min\r\n0\r\n");
        QTest::newRow("exit") << "3" << false << QByteArray();
    }
    void options_save_writes_and_applies() {
        QFETCH(QString, interval);
        QFETCH(bool, ticked);
        QFETCH(QByteArray, written);
        Main main;
        const QByteArray defaults("10\r\n1\r\n");
        GeneralForm* options = main.options(&defaults);
        options->Text1->setText(interval);
        options->Check1->setChecked(ticked);
        (written.isEmpty() ? options->Command4 : options->Command1)->click();
        const bool saved = !written.isEmpty();
        QCOMPARE(main.folder.read("general.cfg"), saved ? written : defaults);
        QCOMPARE(main.state.start_with_windows, QString(ticked || !saved ? "1" : "0"));
        QCOMPARE(QFile::exists(main.config_home.filePath("autostart/Ostrel.desktop")), ticked);
        QCOMPARE(main.state.check_interval, QString("10"));
        QVERIFY(!options->isVisible() && main.prompts.isEmpty());
    }

    // The log under an empty line; long lines wrap. Exit writes nothing; Clear
    // Log leaves one line and the focus inside the window's shape.
    void log_viewer_shows_from_the_top_and_clears() {
        Main main;
        QVERIFY(main.viewer(nullptr)->Text2->toPlainText().isEmpty() &&
                log_viewer_text("").isEmpty());
        QByteArray log = QString("first\r\n\r\nCan´t connect\rthird\r\n").toUtf8();
        for (int i = 0; i < 300; ++i) {
            log += "01/02/24 10:00:00 - " + QByteArray("Can't connect ").repeated(30) + "\r\n";
        }
        Menu1* viewer = main.viewer(&log);
        QCOMPARE(viewer->Text2->toPlainText().split('\n').mid(0, 5),
                 (QStringList{"", "first", "", "Can´t connect", "third"}));
        QCOMPARE(viewer->Text2->textCursor().position(), 0);
        viewer->show();
        QVERIFY(QTest::qWaitForWindowExposed(viewer));
        QCOMPARE(viewer->Text2->horizontalScrollBar()->maximum(), 0);
        viewer->Command4->click();
        QVERIFY(!viewer->isVisible());
        QCOMPARE(main.folder.read("logfile.txt"), log);
        viewer->show();
        viewer->Command1->click();
        const QString now = QString::fromUtf8(main.folder.read("logfile.txt"));
        QVERIFY2(QRegularExpression("^[^\\r\\n]+ File created!\\r\\n$").match(now).hasMatch(),
                 qPrintable(now));
        QVERIFY(!now.contains(" - "));
        QCOMPARE(viewer->Text2->toPlainText(), "\n" + now.trimmed());
        QVERIFY(main.prompts.isEmpty());
        const QWidget* focus = viewer->focusWidget();
        QVERIFY(focus && viewer->mask().contains(focus->geometry().center()));
    }
};

QTEST_MAIN(WindowsTest)
#include "windows_test.moc"
