#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "app/form1.h"
#include "config/general_form.h"
#include "core/resources.h"
#include "support/temp_folder.h"

using namespace ostrel;

namespace {

// A main window on a fresh folder with a prompt that records instead of asking
// anyone. Each test points the autostart folder at a fresh temporary one.
struct Options {
    testing::TempProgramFolder folder;
    QStringList texts;
    Form1 form{folder.path(), folder.file("Ostrel"),
               [this](const QString& text, const QString&, PromptIcon, PromptButtons) {
                   texts << text;
                   return PromptAnswer::Ok;
               }};
    GeneralForm* window = nullptr;

    explicit Options(const QByteArray* settings) {
        if (settings != nullptr) {
            folder.write("general.cfg", *settings);
        }
        form.state().check_interval = "10";
        form.state().start_with_windows = "1";
        window = new GeneralForm(form.context(), form.program_path(), &form);
        window->load();
        window->show();
    }
    QByteArray log() const { return folder.read("logfile.txt"); }
};

}  // namespace

class GeneralFormTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { init_resources(); }
    void init() { home_ = std::make_unique<QTemporaryDir>(); }

    void opening_shows_the_file_data() {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("interval");
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<bool>("fatal");
        QTest::newRow("defaults") << true << QByteArray("10\r\n1\r\n") << "10" << true << false;
        QTest::newRow("flag off") << true << QByteArray("5\r\n0\r\n") << "5" << false << false;
        QTest::newRow("empty interval") << true << QByteArray("\r\n1\r\n") << "" << true << false;
        QTest::newRow("line 2 missing") << true << QByteArray("7\r\n") << "7" << false << true;
        QTest::newRow("comma moves 5 into line 2")
            << true << QByteArray("1,5\r\n1\r\n") << "1" << false << true;
        QTest::newRow("no file") << false << QByteArray() << "" << false << true;
    }
    void opening_shows_the_file() {
        QFETCH(bool, present);
        QFETCH(QByteArray, settings);
        QFETCH(QString, interval);
        QFETCH(bool, ticked);
        QFETCH(bool, fatal);
        qputenv("XDG_CONFIG_HOME", home_->path().toUtf8());
        Options options(present ? &settings : nullptr);
        QCOMPARE(options.window->Text1->text(), interval);
        QCOMPARE(options.window->Check1->isChecked(), ticked);
        QCOMPARE(options.log().contains("Fatal Err 007 "), fatal);
        QVERIFY(options.texts.isEmpty());
        // A failed opening leaves Save working.
        options.window->Command1->click();
        QVERIFY(options.folder.exists("general.cfg"));
    }

    void save_writes_applies_and_closes_data() {
        QTest::addColumn<QString>("interval");
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("box cleared") << "10" << false << QByteArray("10\r\n0\r\n");
        QTest::newRow("interval changed") << "5" << true << QByteArray("5\r\n1\r\n");
        QTest::newRow("empty interval") << "" << true << QByteArray("\r\n1\r\n");
        QTest::newRow("not a number, as typed")
            << " 7 min" << false << QByteArray(" 7 min\r\n0\r\n");
    }
    void save_writes_applies_and_closes() {
        QFETCH(QString, interval);
        QFETCH(bool, ticked);
        QFETCH(QByteArray, written);
        qputenv("XDG_CONFIG_HOME", home_->path().toUtf8());
        const QByteArray defaults("10\r\n1\r\n");
        Options options(&defaults);
        options.window->Text1->setText(interval);
        options.window->Check1->setChecked(ticked);
        options.window->Command1->click();
        QCOMPARE(options.folder.read("general.cfg"), written);
        QCOMPARE(options.form.state().start_with_windows, QString(ticked ? "1" : "0"));
        QCOMPARE(QFile::exists(home_->path() + "/autostart/Ostrel.desktop"), ticked);
        // The interval takes effect at the next start only.
        QCOMPARE(options.form.state().check_interval, QString("10"));
        QVERIFY(!options.window->isVisible());
        QVERIFY(options.texts.isEmpty());
    }

    void exit_writes_nothing() {
        qputenv("XDG_CONFIG_HOME", home_->path().toUtf8());
        const QByteArray settings("10\r\n1\r\n");
        Options options(&settings);
        options.window->Text1->setText("3");
        options.window->Check1->setChecked(false);
        options.window->Command4->click();
        QCOMPARE(options.folder.read("general.cfg"), settings);
        QCOMPARE(options.form.state().start_with_windows, QString("1"));
        QVERIFY(!options.window->isVisible());
    }

    void save_on_an_unwritable_file_says_so_and_changes_nothing() {
        qputenv("XDG_CONFIG_HOME", home_->path().toUtf8());
        Options options(nullptr);
        // A folder where the file should be: no user, root included, can replace it.
        QVERIFY(QDir(options.folder.path()).mkdir("general.cfg"));
        options.window->Text1->setText("3");
        options.window->Check1->setChecked(true);
        options.window->Command1->click();
        QCOMPARE(options.texts.size(), 1);
        QVERIFY(options.texts[0].contains("not saved"));
        QVERIFY(options.log().contains("not saved"));
        QVERIFY(QFileInfo(options.folder.file("general.cfg")).isDir());
        QCOMPARE(options.form.state().start_with_windows, QString("1"));
        QVERIFY(!QFile::exists(home_->path() + "/autostart/Ostrel.desktop"));
        QVERIFY(options.window->isVisible());
    }

private:
    std::unique_ptr<QTemporaryDir> home_;
};

QTEST_MAIN(GeneralFormTest)
#include "general_form_test.moc"
