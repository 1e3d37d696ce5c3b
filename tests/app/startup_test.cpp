// The start: the data files made or read and the log-on entry; the main
// window loaded with its tray icon and schedule; a second copy refused.
#include <sys/stat.h>
#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QtTest>

#include "support/scripted_pop3_server.h"
#include "support/startup_fixture.h"
#include "support/tiny_disk.h"

using namespace ostrel;
using testing::StartupFixture;

namespace {

QMap<QString, QByteArray> snapshot(const QString& folder) {
    QMap<QString, QByteArray> files;
    for (const QFileInfo& info :
         QDir(folder).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(info.filePath());
        files[info.fileName()] = file.open(QIODevice::ReadOnly) ? file.readAll() : "<dir>";
    }
    return files;
}

void write_autostart_entry(const StartupFixture& start, const QByteArray& text) {
    QDir().mkpath(QFileInfo(start.autostart_entry()).path());
    QFile entry(start.autostart_entry());
    QVERIFY(entry.open(QIODevice::WriteOnly) && entry.write(text) == text.size());
}

// A tick of `tick_ms`, a quick blink and reply time-out.
Timings ticking(int tick_ms) {
    Timings timings;
    timings.check_tick_ms = tick_ms;
    timings.blink_ms = 50;
    timings.reply_timeout_ms = 400;
    return timings;
}

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void first_start_creates_the_data_files() {
        const mode_t umask_before = ::umask(022);
        StartupFixture start;
        QDir(start.folder.path()).mkdir("debuga.txt");  // a folder is not the debug switch
        start.init_data_files();
        QCOMPARE(start.folder.read("lumetta_pop.cfg"), QByteArray());
        QCOMPARE(start.folder.read("general.cfg"), QByteArray("10\r\n1\r\n"));
        const QByteArray log = start.folder.read("logfile.txt");
        QVERIFY(log.endsWith(" File created!\r\n"));
        QCOMPARE(log.count("\r\n"), 1);
        QCOMPARE(start.state.check_interval, QString("10"));
        QCOMPARE(start.state.start_with_windows, QString("1"));
        QVERIFY(!start.state.debug_mode);
        QVERIFY(QFile::exists(start.autostart_entry()));
        QVERIFY(start.prompts.isEmpty());
        QCOMPARE(start.folder.open_to_others(), QStringList());
        ::umask(umask_before);
    }

    void start_with_files_present_changes_nothing() {
        StartupFixture start;
        start.folder.write("lumetta_pop.cfg", "s<>l<>p<>\r\n");
        start.folder.write("logfile.txt", "old line\r\n");
        start.folder.write("general.cfg", "5\r\n0\r\n");
        start.folder.write("debuga.txt", "");
        write_autostart_entry(start, "");
        const auto before = snapshot(start.folder.path());
        start.init_data_files();
        QCOMPARE(snapshot(start.folder.path()), before);
        QVERIFY(start.state.debug_mode);
        QCOMPARE(start.state.check_interval, QString("5"));
        QVERIFY(!QFile::exists(start.autostart_entry()));
    }

    void autostart_entry_follows_the_program() {
        StartupFixture start;
        start.folder.write("general.cfg", "10\r\n1\r\n");
        write_autostart_entry(start, "[Desktop Entry]\nExec=/elsewhere/Ostrel\n");
        start.init_data_files();
        QFile entry(start.autostart_entry());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(entry.readAll());
        QVERIFY(text.startsWith("[Desktop Entry]\n") && !text.contains("elsewhere"));
        for (const QString& line :
             {QString("Type=Application"), QString("Name=Ostrel"),
              QString("Comment=Ostrel Shortcut"), "Exec=\"" + start.folder.path() + "/Ostrel\"",
              "Path=" + start.folder.path()}) {
            QVERIFY2(text.contains('\n' + line + '\n'), qPrintable(line));
        }
    }

    // A file that cannot be read or created at the first start: the failure
    // is logged (or at least shows as the error image) and the start stops there.
    void broken_file_at_start_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("logged");
        QTest::newRow("one-line settings") << "" << QByteArray("7\r\n") << "Fatal Err 003 ";
        QTest::newRow("accounts a folder") << "lumetta_pop.cfg" << QByteArray() << "Fatal Err 003 ";
        QTest::newRow("log a folder") << "logfile.txt" << QByteArray() << "";
    }
    void broken_file_at_start() {
        QFETCH(QString, file);
        QFETCH(QByteArray, settings);
        QFETCH(QString, logged);
        StartupFixture start;
        if (!settings.isEmpty()) {
            start.folder.write("general.cfg", settings);
        } else {
            QDir(start.folder.path()).mkdir(file);
        }
        start.init_data_files();
        QCOMPARE(start.fatal_lines, 1);
        QVERIFY(!QFile::exists(start.autostart_entry()));
        if (!logged.isEmpty()) {
            QCOMPARE(start.folder.read("logfile.txt").count(logged.toUtf8()), 1);
        }
        if (settings.isEmpty()) {
            QVERIFY(!start.folder.exists("general.cfg"));
        } else {
            QCOMPARE(start.state.check_interval, QString("7"));
            QCOMPARE(start.state.start_with_windows, QString());
        }
    }

    void log_lines_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("fatal");
        QTest::newRow("lower-case fatal") << "fatal things happen" << false;
        QTest::newRow("Fatal in the middle") << "socket said: Fatal reset" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("accent kept") << "Can´t connect to Pop3 host" << false;
        QTest::newRow("line breaks cannot split the line")
            << "Host unreachable\r\n01-01-2026 00:00:00 - forged" << false;
    }
    void log_lines() {
        QFETCH(QString, message);
        QFETCH(bool, fatal);
        StartupFixture start;
        start.log.log_event(message);
        start.log.log_event(message);
        const QList<QByteArray> lines = start.folder.read("logfile.txt").split('\n');
        QCOMPARE(lines.size(), 3);  // two lines, empty tail
        const QString shown = QString(message).replace("\r", "\\r").replace("\n", "\\n");
        QVERIFY(lines[0].endsWith(" - " + shown.toUtf8() + "\r"));
        QCOMPARE(lines[0], lines[1].left(lines[0].size()));
        QCOMPARE(start.fatal_lines, fatal ? 2 : 0);
    }

    // The main window stays hidden behind its tray icon; its schedule starts
    // once the load has made sure no other copy runs. A fatal line shows the
    // error image.
    void main_window_loads() {
        StartupFixture start;
        QVERIFY(start.load());
        QCOMPARE(start.tray().shown_image(), TrayImage::Normal);
        QVERIFY(start.tray().is_up());
        QVERIFY(start.form->Timer1->isActive());
        QVERIFY(!start.form->isVisible());
        start.form->Command3->click();
        QVERIFY(start.form->findChild<QWidget*>("nota_form")->isVisible());
        StartupFixture broken;
        broken.folder.write("general.cfg", "7\r\n");
        QVERIFY(broken.load());
        QCOMPARE(broken.tray().shown_image(), TrayImage::Error);
    }

    void program_folder_unusable_at_first_start() {
        StartupFixture start;
        testing::TinyDisk disk(start.folder.path(), QStringLiteral("ro,size=64k"));
        if (!disk.mounted()) {
            QSKIP("a read-only program folder needs root and a tmpfs mount; neither is available");
        }
        QVERIFY(start.load());
        QCOMPARE(start.tray().shown_image(), TrayImage::Error);
        QVERIFY(!QFile::exists(start.autostart_entry()));
        QVERIFY(QDir(start.folder.path()).isEmpty());
        QSignalSpy checks(start.form.get(), &Form1::check_finished);
        start.form->Command2->click();
        QCOMPARE(checks.count(), 1);
    }

    // The box stays open for several ticks of a short schedule: nothing runs.
    void second_holder_of_the_lock_is_refused() {
        StartupFixture first;
        QVERIFY(first.load());
        StartupFixture second(ticking(20));
        second.while_prompting = [] { QTest::qWait(200); };
        QSignalSpy checks(&second.window(), &Form1::check_finished);
        SingleInstance same_lock(QFileInfo(first.folder.path()).absolutePath() + "/" +
                                 QFileInfo(first.folder.path()).fileName() + ".lock");
        QVERIFY(!second.form->load(same_lock));
        QCOMPARE(checks.count(), 0);
        QVERIFY(!second.form->Timer1->isActive());
        QCOMPARE(second.prompts, QStringList{"O Programa já esta a ser executado!"});
        QVERIFY(second.folder.read("logfile.txt").isEmpty());
        QVERIFY(!second.folder.exists("general.cfg"));
        QVERIFY(!second.tray().is_up());
        QVERIFY(first.tray().is_up());
        // Where no lock file can be made no data file can be replaced either:
        // that is no reason to say another copy runs.
        QVERIFY(SingleInstance(first.folder.path() + "/missing/ostrel.lock").acquire());
    }

    // A check comes every `interval` ticks; one asked for by hand leaves the
    // count as it was. An interval that is no number means every tick.
    void schedule_counts_ticks_to_the_interval() {
        StartupFixture start(ticking(20));
        start.folder.write("general.cfg", "3\r\n0\r\n");
        QVERIFY(start.load());
        QSignalSpy ticks(start.form->Timer1, &QTimer::timeout);
        QSignalSpy finished(start.form.get(), &Form1::check_finished);
        QVERIFY(finished.wait(2000));
        QCOMPARE(ticks.count(), 3);
        QVERIFY(ticks.wait(2000));
        start.form->Command2->click();
        QCOMPARE(finished.count(), 2);
        QVERIFY(finished.wait(2000));
        QCOMPARE(ticks.count(), 6);

        StartupFixture every_tick(ticking(20));
        every_tick.folder.write("general.cfg", "not a number\r\n0\r\n");
        QVERIFY(every_tick.load());
        QSignalSpy first_ticks(every_tick.form->Timer1, &QTimer::timeout);
        QSignalSpy first_check(every_tick.form.get(), &Form1::check_finished);
        QVERIFY(first_check.wait(2000));
        QCOMPARE(first_ticks.count(), 1);
    }

    // "executa" or "Check Now !" while a check runs starts no second one.
    void a_check_asked_for_during_a_check_is_refused() {
        testing::ScriptedPop3Server server;
        server.transcript = {testing::ScriptedReply::silence()};
        StartupFixture start(ticking(60000));
        QVERIFY(start.load());
        start.folder.write("lumetta_pop.cfg", server.address().toUtf8() + "<>ann<>pw<>\r\n");
        Form1& form = *start.form;
        QSignalSpy finished(&form, &Form1::check_finished);
        QTimer::singleShot(100, &form, [&form] {
            form.Command2->click();
            form.findChild<TrayMenu*>()->menu()->findChild<QAction*>("ver_agora")->trigger();
        });
        form.Command2->click();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(server.connections, 1);
        const QByteArray log = start.folder.read("logfile.txt");
        QCOMPARE(log.count("Can"), 1);
        QCOMPARE(log.count("Err 001"), 0);
    }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
