// The start: data files, log-on entry, main window, tray, schedule; a second copy refused.
#include <sys/stat.h>
#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QtTest>

#include "support/rows.h"
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

// A file that cannot be read or created at the first start: `settings` the
// settings file's content, or else `folder` the file that is a folder.
struct BrokenFile {
    const char *name, *settings, *folder, *logged;
};
const BrokenFile kBrokenFiles[] = {
    {"one-line settings", "7\r\n", "", "Fatal Err 003 "},
    {"accounts a folder", "", "lumetta_pop.cfg", "Fatal Err 003 "},
    {"log a folder", "", "logfile.txt", ""},
};

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    // A log-on entry that names another program is made again for this one.
    void first_start_creates_the_data_files() {
        const mode_t umask_before = ::umask(022);
        StartupFixture start;
        QDir(start.folder.path()).mkdir("debuga.txt");  // a folder is not the debug switch
        write_autostart_entry(start, "[Desktop Entry]\nExec=/elsewhere/Ostrel\n");
        start.init_data_files();
        QCOMPARE(start.folder.read("lumetta_pop.cfg"), QByteArray());
        QCOMPARE(start.folder.read("general.cfg"), QByteArray("10\r\n1\r\n"));
        const QByteArray log = start.folder.read("logfile.txt");
        QVERIFY(log.endsWith(" File created!\r\n") && log.count("\r\n") == 1);
        QCOMPARE(start.state.check_interval + start.state.start_with_windows, QString("101"));
        QVERIFY(!start.state.debug_mode && start.prompts.isEmpty());
        QFile entry(start.autostart_entry());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(entry.readAll());
        QVERIFY2(text.contains("\nExec=\"" + start.folder.path() + "/Ostrel\"\n") &&
                     text.contains("\nPath=" + start.folder.path() + '\n') &&
                     !text.contains("elsewhere"),
                 qPrintable(text));
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

    // The failure is logged (or at least shows as the error image); the start stops.
    void broken_file_at_start_data() { testing::add_rows(kBrokenFiles); }
    void broken_file_at_start() {
        QFETCH(BrokenFile, row);
        StartupFixture start;
        const QByteArray settings = row.settings;
        if (!settings.isEmpty()) {
            start.folder.write("general.cfg", settings);
        } else {
            QDir(start.folder.path()).mkdir(row.folder);
        }
        start.init_data_files();
        QCOMPARE(start.fatal_lines, 1);
        QVERIFY(!QFile::exists(start.autostart_entry()));
        QVERIFY(!*row.logged || start.folder.read("logfile.txt").count(row.logged) == 1);
        QCOMPARE(start.folder.exists("general.cfg"), !settings.isEmpty());
        QCOMPARE(start.state.check_interval + start.state.start_with_windows,
                 QString(settings.isEmpty() ? "" : "7"));
    }

    // One dated UTF-8 line a call, line breaks escaped so that they cannot forge
    // a line; "Fatal" anywhere in it, in that case, shows the error image.
    void log_lines() {
        StartupFixture start;
        const QStringList messages = {"fatal things happen", "socket said: Fatal reset", "",
                                      "Can´t connect to Pop3 host",
                                      "Host unreachable\r\n01-01-2026 00:00:00 - forged"};
        for (const QString& message : messages) {
            start.log.log_event(message);
        }
        const QList<QByteArray> lines = start.folder.read("logfile.txt").split('\n');
        QCOMPARE(lines.size(), messages.size() + 1);
        for (int i = 0; i < messages.size(); ++i) {
            const QString shown = QString(messages[i]).replace("\r", "\\r").replace("\n", "\\n");
            QVERIFY2(lines[i].endsWith(" - " + shown.toUtf8() + "\r"), lines[i].constData());
        }
        QCOMPARE(start.fatal_lines, 1);
    }

    // The main window stays hidden behind its tray icon; its schedule starts once
    // no other copy runs. A fatal line shows the error image.
    void main_window_loads() {
        StartupFixture start;
        QVERIFY(start.load());
        QCOMPARE(start.tray().shown_image(), TrayImage::Normal);
        QVERIFY(start.tray().is_up() && start.form->Timer1->isActive() && !start.form->isVisible());
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
        SingleInstance same_lock(first.folder.path() + ".lock");
        QVERIFY(!second.form->load(same_lock));
        QCOMPARE(checks.count(), 0);
        QVERIFY(!second.form->Timer1->isActive());
        QCOMPARE(second.prompts, QStringList{"O Programa já esta a ser executado!"});
        QVERIFY(QDir(second.folder.path()).isEmpty() && !second.tray().is_up() &&
                first.tray().is_up());
        // Where no lock file can be made no data file can be replaced either:
        // that is no reason to say another copy runs.
        QVERIFY(SingleInstance(first.folder.path() + "/missing/ostrel.lock").acquire());
    }

    // A check comes every `interval` ticks; one asked for by hand leaves the
    // count as it was. An interval that is no number means every tick.
    void schedule_counts_ticks_to_the_interval() {
        StartupFixture start(ticking(20)), every_tick(ticking(20));
        start.folder.write("general.cfg", "3\r\n0\r\n");
        every_tick.folder.write("general.cfg", "not a number\r\n0\r\n");
        QVERIFY(start.load() && every_tick.load());
        QSignalSpy ticks(start.form->Timer1, &QTimer::timeout);
        QSignalSpy finished(start.form.get(), &Form1::check_finished);
        QSignalSpy other_ticks(every_tick.form->Timer1, &QTimer::timeout);
        QSignalSpy other_checks(every_tick.form.get(), &Form1::check_finished);
        QVERIFY(finished.wait(2000));
        QCOMPARE(ticks.count(), 3);
        QVERIFY(ticks.wait(2000));
        start.form->Command2->click();
        QCOMPARE(finished.count(), 2);
        QVERIFY(finished.wait(2000));
        QCOMPARE(ticks.count(), 6);
        QVERIFY(other_ticks.count() > 0);
        QCOMPARE(other_checks.count(), other_ticks.count());
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
        QTimer::singleShot(100, &form, [&] {
            form.Command2->click();
            start.tray_menu().menu()->findChild<QAction*>("ver_agora")->trigger();
        });
        form.Command2->click();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(server.connections, 1);
        const QByteArray log = start.folder.read("logfile.txt");
        QVERIFY2(log.count("Can") == 1 && !log.contains("Err 001"), log.constData());
    }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
