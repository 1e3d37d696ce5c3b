#include <QImage>
#include <QtTest>

#include "core/resources.h"
#include "desktop/autostart_entry.h"
#include "desktop/help_page.h"

using namespace ostrel;

namespace {

// What a command says when it fails: empty when it succeeds.
QString complaint(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(120000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return ok ? QString() : program + ": " + QString::fromUtf8(process.readAll());
}

// What a validator finds wrong (desktop-file-utils, appstream); nothing where
// it is not installed.
QString invalid(const QString& validator, const QStringList& arguments) {
    if (QStandardPaths::findExecutable(validator).isEmpty()) {
        qWarning("%s is missing: not validated", qPrintable(validator));
        return {};
    }
    return complaint(validator, arguments);
}

// The value of `key` in the desktop entry at `path`.
QString entry_value(const QString& path, const QString& key) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n')) {
        if (line.startsWith(key + '=')) {
            return line.mid(key.size() + 1);
        }
    }
    return {};
}

// Every file and folder under `root`, with its size and time of change.
QStringList tree(const QString& root) {
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        entries << info.filePath() + ' ' + QString::number(info.size()) + ' ' +
                       QString::number(info.lastModified().toMSecsSinceEpoch());
    }
    entries.sort();
    return entries;
}

}  // namespace

// Installs this build tree into a temporary prefix and runs the installed
// program as a user with a fresh home; writes a portable copy's log-on entry.
class InstallTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        init_resources();
        const QString build = QFileInfo(OSTREL_BINARY).path() + "/..";
        QCOMPARE(complaint(OSTREL_CMAKE, {"--install", build, "--prefix", prefix_.path()}),
                 QString());
    }

    // Menu entry, icon and AppStream data are in place; the data goes to the user's
    // data folder. A second start without a runtime folder (su, ssh, cron) must
    // see the first copy, stop at its message and touch nothing.
    void installed_program_and_its_desktop_files() {
        const QString id = installed_app_id();
        const QString menu_entry = prefix_.filePath("share/applications/" + id + ".desktop");
        const QString metainfo = prefix_.filePath("share/metainfo/" + id + ".metainfo.xml");
        for (const QString& file : QStringList{
                 "share/man/man1/ostrel.1.gz", "share/doc/ostrel/copyright",
                 "share/ostrel/help.html", "share/icons/hicolor/scalable/apps/" + id + ".svg",
                 "share/icons/hicolor/48x48/apps/" + id + ".png"}) {
            QVERIFY2(QFileInfo(prefix_.filePath(file)).isFile(), qPrintable(file));
        }
        QCOMPARE(entry_value(menu_entry, "Icon"), id);

        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"}) {
            environment.remove(name);
        }
        environment.insert("HOME", home.path());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess first, second;
        second.setProcessEnvironment(environment);
        QDir(home.path()).mkdir("run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert("XDG_RUNTIME_DIR", home.filePath("run"));
        first.setProcessEnvironment(environment);
        first.start(prefix_.filePath("bin/ostrel"), {});
        const QDir data(home.filePath(".local/share/ostrel"));
        const QString entry = home.filePath(".config/autostart/Ostrel.desktop");
        QTRY_VERIFY_WITH_TIMEOUT(data.exists("general.cfg") && QFile::exists(entry), 20000);
        QTest::qWait(300);
        // A start that went on would make this file again.
        QVERIFY(QFile::remove(data.filePath("general.cfg")));
        const QStringList before = tree(home.path());
        second.start(prefix_.filePath("bin/ostrel"), {});
        QVERIFY(second.waitForStarted());
        // The second copy now waits on its message box (nobody answers it offscreen).
        QTest::qWait(2000);
        QCOMPARE(second.state(), QProcess::Running);
        QCOMPARE(first.state(), QProcess::Running);
        QCOMPARE(tree(home.path()), before);
        for (QProcess* copy : {&first, &second}) {
            copy->kill();
            copy->waitForFinished();
        }
        QVERIFY(data.exists("lumetta_pop.cfg") && data.exists("logfile.txt") &&
                data.exists("ostrel.lock"));
        QCOMPARE(QDir(prefix_.filePath("bin")).entryList(QDir::Files), QStringList{"ostrel"});
        QCOMPARE(entry_value(entry, "Exec"), QString(kInstalledCommand));
        QCOMPARE(entry_value(entry, "Icon"), id);
        QCOMPARE(entry_value(entry, "Path"), data.path());
        QCOMPARE(invalid("desktop-file-validate", {menu_entry, entry}), QString());
        // Without a project web page the data names no address, so may be checked online.
        QStringList validate{"validate", metainfo};
        if (!configured_homepage().isEmpty()) {
            validate << "--no-net";
        }
        QCOMPARE(invalid("appstreamcli", validate), QString());
    }

    void portable_entry_names_its_own_program_and_icon() {
        QTemporaryDir root, config;
        const QString folder = root.filePath("a 100% \"q\" $x `y` \\z");
        QVERIFY(QDir().mkpath(folder));
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        QCOMPARE(create_shortcut(folder + "/Ostrel", folder), QString());

        // Quoted, with ", `, $ and \ escaped, every \ doubled again and % doubled.
        QCOMPARE(
            entry_value(autostart_entry_path(), "Exec"),
            '"' + root.path() + "/a 100%% \\\\\"q\\\\\" \\\\$x \\\\`y\\\\` \\\\\\\\z/Ostrel\"");
        QCOMPARE(entry_value(autostart_entry_path(), "Icon"),
                 portable_icon_path(folder).replace("\\", "\\\\"));
        QVERIFY(!QImage(portable_icon_path(folder)).isNull());
        QCOMPARE(invalid("desktop-file-validate", {autostart_entry_path()}), QString());
    }

private:
    QTemporaryDir prefix_;
};

QTEST_GUILESS_MAIN(InstallTest)
#include "install_test.moc"
