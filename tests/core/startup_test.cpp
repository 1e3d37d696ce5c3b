#include <QTextEdit>
#include <QtTest>

#include "core/date_time_text.h"
#include "support/startup_fixture.h"

using namespace ostrel;
using testing::StartupFixture;

namespace {

QMap<QString, QByteArray> snapshot(const QString& folder) {
    QMap<QString, QByteArray> files;
    for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(info.filePath());
        files[info.fileName()] = file.open(QIODevice::ReadOnly) ? file.readAll() : "<dir>";
    }
    return files;
}

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void first_start_creates_the_data_files() {
        StartupFixture start;
        QVERIFY(start.load());
        QCOMPARE(start.folder.read("lumetta_pop.cfg"), QByteArray());
        QCOMPARE(start.folder.read("general.cfg"), QByteArray("10\r\n1\r\n"));
        const QByteArray log = start.folder.read("logfile.txt");
        QVERIFY(log.endsWith(" File created!\r\n"));
        QCOMPARE(log.count("\r\n"), 1);
        // date time - date time File created!: the moment appears twice.
        const QList<QByteArray> halves = log.chopped(16).split('-');
        QCOMPARE(halves.size() >= 2, true);
        QCOMPARE(start.form->state().check_interval, QString("10"));
        QCOMPARE(start.form->state().start_with_windows, QString("1"));
        QVERIFY(!start.form->state().debug_mode);
        QVERIFY(QFile::exists(start.autostart_entry()));
        QCOMPARE(start.form->tray().shown_image(), TrayImage::Normal);
        QCOMPARE(start.form->tray().tip(), QString("Ostrel"));
        QVERIFY(start.form->tray().is_up());
        QVERIFY(start.prompts.isEmpty());
    }

    void design_state_of_the_main_window() {
        StartupFixture start;
        QCOMPARE(start.form->windowTitle(), QString("Lumetta"));
        QVERIFY(!start.form->Timer1->isActive());  // until the load has passed
        QCOMPARE(start.form->Timer1->interval(), 60000);
        QVERIFY(!start.form->Timer2->isActive());
        QCOMPARE(start.form->Timer2->interval(), 1000);
        QVERIFY(!start.form->Timer3->isActive());
        QCOMPARE(start.form->Timer3->interval(), 15000);
        QVERIFY(!start.form->isVisible());
        QVERIFY(!start.form->Text1->isVisible());
        QCOMPARE(start.form->Text1->toPlainText(), QString("Text1"));
        QVERIFY(start.load());
        QVERIFY(start.form->Timer1->isActive());
    }

    void start_with_files_present_changes_nothing() {
        StartupFixture start;
        start.folder.write("lumetta_pop.cfg", "s<>l<>p<>\r\n");
        start.folder.write("logfile.txt", "old line\r\n");
        start.folder.write("general.cfg", "5\r\n0\r\n");
        start.folder.write("debuga.txt", "");
        QDir().mkpath(QFileInfo(start.autostart_entry()).path());
        QFile entry(start.autostart_entry());
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.close();
        const auto before = snapshot(start.folder.path());
        QVERIFY(start.load());
        QCOMPARE(snapshot(start.folder.path()), before);
        QVERIFY(start.form->state().debug_mode);
        QCOMPARE(start.form->state().check_interval, QString("5"));
        QVERIFY(!QFile::exists(start.autostart_entry()));
    }

    void autostart_entry_follows_the_program() {
        StartupFixture start;
        start.folder.write("general.cfg", "10\r\n1\r\n");
        QDir().mkpath(QFileInfo(start.autostart_entry()).path());
        QFile stale(start.autostart_entry());
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("[Desktop Entry]\nExec=/elsewhere/Ostrel\n");
        stale.close();
        QVERIFY(start.load());
        QFile entry(start.autostart_entry());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(entry.readAll());
        QVERIFY(text.startsWith("[Desktop Entry]\n"));
        QVERIFY(text.contains("\nType=Application\n"));
        QVERIFY(text.contains("\nName=Ostrel\n"));
        QVERIFY(text.contains("\nComment=Ostrel Shortcut\n"));
        QVERIFY(text.contains("\nExec=\"" + start.folder.path() + "/Ostrel\"\n"));
        QVERIFY(text.contains("\nPath=" + start.folder.path() + "\n"));
        QVERIFY(!text.contains("elsewhere"));
    }

    void a_debug_folder_is_not_the_debug_switch() {
        StartupFixture start;
        QDir(start.folder.path()).mkdir("debuga.txt");
        QVERIFY(start.load());
        QVERIFY(!start.form->state().debug_mode);
    }

    void one_line_settings_file_fails_after_setting_the_interval() {
        StartupFixture start;
        start.folder.write("general.cfg", "7\r\n");
        QVERIFY(start.load());
        QCOMPARE(start.form->state().check_interval, QString("7"));
        QCOMPARE(start.form->state().start_with_windows, QString());
        const QByteArray log = start.folder.read("logfile.txt");
        QCOMPARE(log.count("Fatal Err 003 "), 1);
        QCOMPARE(start.form->tray().shown_image(), TrayImage::Error);
        QVERIFY(!QFile::exists(start.autostart_entry()));
    }

    void failure_creating_accounts_file_stops_before_the_settings() {
        StartupFixture start;
        QDir(start.folder.path()).mkdir("lumetta_pop.cfg");
        QVERIFY(start.load());
        const QList<QByteArray> lines = start.folder.read("logfile.txt").split('\n');
        QVERIFY(lines.first().contains(" - Fatal Err 003 "));
        QVERIFY(!start.folder.exists("general.cfg"));
        QCOMPARE(start.form->tray().shown_image(), TrayImage::Error);
    }

    void log_lines_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("error_image");
        QTest::newRow("lower-case fatal") << "fatal things happen" << false;
        QTest::newRow("Fatal in the middle") << "socket said: Fatal reset" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("accent kept") << "Can´t connect to Pop3 host" << false;
    }
    void log_lines() {
        QFETCH(QString, message);
        QFETCH(bool, error_image);
        StartupFixture start;
        QVERIFY(start.load());
        start.form->log_event(message);
        start.form->log_event(message);
        const QList<QByteArray> lines = start.folder.read("logfile.txt").split('\n');
        QCOMPARE(lines.size(), 4);  // creation line, two lines, empty tail
        QVERIFY(lines[1].endsWith(" - " + message.toUtf8() + "\r"));
        QCOMPARE(lines[1], lines[2].left(lines[1].size()));
        QCOMPARE(start.form->tray().shown_image() == TrayImage::Error, error_image);
    }

    void line_breaks_in_a_message_cannot_split_the_line() {
        StartupFixture start;
        QVERIFY(start.load());
        start.form->log_event("Host unreachable\r\n01-01-2026 00:00:00 - forged");
        QCOMPARE(start.folder.read("logfile.txt").count("\r\n"), 2);
    }

    void unwritable_log_drops_lines_quietly() {
        StartupFixture start;
        QVERIFY(start.load());
        QFile::remove(start.folder.file("logfile.txt"));
        QDir(start.folder.path()).mkdir("logfile.txt");
        for (int i = 0; i < 3; ++i) {
            start.form->log_event("Fatal error lost");
        }
        QCOMPARE(start.form->tray().shown_image(), TrayImage::Error);
    }

    // The box stays open for several ticks of a short schedule: nothing runs.
    void second_holder_of_the_lock_is_refused() {
        StartupFixture first;
        QVERIFY(first.load());
        Timings ticking;
        ticking.check_tick_ms = 20;
        StartupFixture second(ticking);
        second.while_prompting = [] { QTest::qWait(200); };
        QSignalSpy checks(second.form.get(), &Form1::check_finished);
        SingleInstance same_lock(QFileInfo(first.folder.path()).absolutePath() + "/" +
                                 QFileInfo(first.folder.path()).fileName() + ".lock");
        QVERIFY(!second.form->load(same_lock));
        QCOMPARE(checks.count(), 0);
        QVERIFY(!second.form->Timer1->isActive());
        QCOMPARE(second.prompts, QStringList{"O Programa já esta a ser executado!"});
        QVERIFY(second.folder.read("logfile.txt").isEmpty());
        QVERIFY(!second.folder.exists("general.cfg"));
        QVERIFY(!second.form->tray().is_up());
        QVERIFY(first.form->tray().is_up());
    }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
