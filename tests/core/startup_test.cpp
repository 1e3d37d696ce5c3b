#include <QTextEdit>
#include <QtTest>

#include "core/date_time_text.h"
#include "support/startup_fixture.h"

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

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void first_start_creates_the_data_files() {
        StartupFixture start;
        QDir(start.folder.path()).mkdir("debuga.txt");  // a folder is not the debug switch
        QVERIFY(start.load());
        QCOMPARE(start.folder.read("lumetta_pop.cfg"), QByteArray());
        QCOMPARE(start.folder.read("general.cfg"), QByteArray("10\r\n1\r\n"));
        const QByteArray log = start.folder.read("logfile.txt");
        QVERIFY(log.endsWith(" File created!\r\n"));
        QCOMPARE(log.count("\r\n"), 1);
        QCOMPARE(start.form->state().check_interval, QString("10"));
        QCOMPARE(start.form->state().start_with_windows, QString("1"));
        QVERIFY(!start.form->state().debug_mode);
        QVERIFY(QFile::exists(start.autostart_entry()));
        QCOMPARE(start.form->tray().shown_image(), TrayImage::Normal);
        QVERIFY(start.form->tray().is_up());
        QVERIFY(start.prompts.isEmpty());
        QVERIFY(start.form->Timer1->isActive());
        QVERIFY(!start.form->isVisible());
    }

    void start_with_files_present_changes_nothing() {
        StartupFixture start;
        start.folder.write("lumetta_pop.cfg", "s<>l<>p<>\r\n");
        start.folder.write("logfile.txt", "old line\r\n");
        start.folder.write("general.cfg", "5\r\n0\r\n");
        start.folder.write("debuga.txt", "");
        write_autostart_entry(start, "");
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
        write_autostart_entry(start, "[Desktop Entry]\nExec=/elsewhere/Ostrel\n");
        QVERIFY(start.load());
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
        QVERIFY(start.load());
        QCOMPARE(start.form->tray().shown_image(), TrayImage::Error);
        QVERIFY(!QFile::exists(start.autostart_entry()));
        if (!logged.isEmpty()) {
            QCOMPARE(start.folder.read("logfile.txt").count(logged.toUtf8()), 1);
        }
        if (settings.isEmpty()) {
            QVERIFY(!start.folder.exists("general.cfg"));
        } else {
            QCOMPARE(start.form->state().check_interval, QString("7"));
            QCOMPARE(start.form->state().start_with_windows, QString());
        }
    }

    void log_lines_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("error_image");
        QTest::newRow("lower-case fatal") << "fatal things happen" << false;
        QTest::newRow("Fatal in the middle") << "socket said: Fatal reset" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("accent kept") << "Can´t connect to Pop3 host" << false;
        QTest::newRow("line breaks cannot split the line")
            << "Host unreachable\r\n01-01-2026 00:00:00 - forged" << false;
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
        const QString shown = QString(message).replace("\r", "\\r").replace("\n", "\\n");
        QVERIFY(lines[1].endsWith(" - " + shown.toUtf8() + "\r"));
        QCOMPARE(lines[1], lines[2].left(lines[1].size()));
        QCOMPARE(start.form->tray().shown_image() == TrayImage::Error, error_image);
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
        // Where no lock file can be made no data file can be replaced either:
        // that is no reason to say another copy runs.
        QVERIFY(SingleInstance(first.folder.path() + "/missing/ostrel.lock").acquire());
    }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
