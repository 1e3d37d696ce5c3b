#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "core/resources.h"
#include "desktop/autostart_entry.h"
#include "desktop/help_page.h"

using namespace ostrel;

namespace {

constexpr char kNoValidators[] =
    "desktop-file-validate or appstreamcli is missing (Debian packages desktop-file-utils, "
    "appstream)";

bool have_validators() {
    return !QStandardPaths::findExecutable("desktop-file-validate").isEmpty() &&
           !QStandardPaths::findExecutable("appstreamcli").isEmpty();
}

// What a command says when it fails: empty when it succeeds.
QString complaint(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(120000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return ok ? QString() : program + ": " + QString::fromUtf8(process.readAll());
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

// A user with a fresh home, no XDG folders of their own, and a private
// runtime folder so that no other running copy is seen.
QProcessEnvironment user_environment(const QString& home) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("XDG_DATA_HOME");
    environment.remove("XDG_CONFIG_HOME");
    QDir(home).mkdir("run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    environment.insert("XDG_RUNTIME_DIR", home + "/run");
    environment.insert("HOME", home);
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    return environment;
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

    // The menu entry, its icon and AppStream data are in place; the installed
    // program, run by a user with a fresh home, keeps its data in that user's
    // data folder and writes nothing beside the executable.
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
        QProcess program;
        program.setProcessEnvironment(user_environment(home.path()));
        program.start(prefix_.filePath("bin/ostrel"), {});
        const QString data = home.filePath(".local/share/ostrel");
        const QString entry = home.filePath(".config/autostart/Ostrel.desktop");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(data + "/general.cfg") && QFile::exists(entry),
                                 20000);
        program.kill();
        program.waitForFinished();
        QVERIFY(QFile::exists(data + "/lumetta_pop.cfg") && QFile::exists(data + "/logfile.txt"));
        QCOMPARE(QDir(prefix_.filePath("bin")).entryList(QDir::Files), QStringList{"ostrel"});
        QCOMPARE(entry_value(entry, "Exec"), QString(kInstalledCommand));
        QCOMPARE(entry_value(entry, "Icon"), id);
        QCOMPARE(entry_value(entry, "Path"), data);
        if (!have_validators()) {
            QSKIP(kNoValidators);
        }
        QCOMPARE(complaint("desktop-file-validate", {menu_entry, entry}), QString());
        // Without a web page for the project the data names no address at all,
        // and passes the checks that would reach one.
        QStringList validate{"validate", metainfo};
        if (!configured_homepage().isEmpty()) {
            validate << "--no-net";
        }
        QCOMPARE(complaint("appstreamcli", validate), QString());
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
        if (!have_validators()) {
            QSKIP(kNoValidators);
        }
        QCOMPARE(complaint("desktop-file-validate", {autostart_entry_path()}), QString());
    }

private:
    QTemporaryDir prefix_;
};

QTEST_GUILESS_MAIN(InstallTest)
#include "install_test.moc"
