#include <QTemporaryDir>
#include <QtTest>

#include "core/data_folder.h"

using namespace ostrel;

// Where each flavour keeps its data files. Paths in the table are relative to
// a fresh folder holding "program/", a file "file" and "data2/ostrel" (a
// file); "-" leaves a variable unset. `expected` is the folder, or a part of
// the error when it cannot be used.
class DataFolderTest : public QObject {
    Q_OBJECT
private slots:
    void data_folder_rule_data() {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("xdg_data_home");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("expected");
        const struct {
            const char* name;
            bool installed;
            const char *xdg_data_home, *home, *expected;
        } cases[] = {
            {"portable: the program folder", false, "data", "h", "program"},
            {"XDG_DATA_HOME set", true, "data", "h", "data/ostrel"},
            {"XDG_DATA_HOME unset", true, "-", "h", "h/.local/share/ostrel"},
            {"XDG_DATA_HOME relative", true, "~rel", "h", "h/.local/share/ostrel"},
            {"no home", true, "-", "-", "neither XDG_DATA_HOME nor HOME"},
            {"a file on the way", true, "file", "h", "cannot create its data folder"},
            {"a file in its place", true, "data2", "h", "something else of that name"},
        };
        for (const auto& c : cases) {
            QTest::newRow(c.name) << c.installed << QString(c.xdg_data_home) << QString(c.home)
                                  << QString(c.expected);
        }
    }
    void data_folder_rule() {
        QFETCH(bool, installed);
        QFETCH(QString, xdg_data_home);
        QFETCH(QString, home);
        QFETCH(QString, expected);
        QTemporaryDir root;
        QDir(root.path()).mkpath("program");
        QDir(root.path()).mkpath("data2");
        QFile(root.filePath("file")).open(QIODevice::WriteOnly);
        QFile(root.filePath("data2/ostrel")).open(QIODevice::WriteOnly);
        QProcessEnvironment environment;
        if (xdg_data_home != "-") {
            environment.insert("XDG_DATA_HOME", xdg_data_home.startsWith('~')
                                                    ? xdg_data_home.mid(1)
                                                    : root.filePath(xdg_data_home));
        }
        if (home != "-") {
            environment.insert("HOME", root.filePath(home));
        }

        const DataFolder folder = data_folder(installed ? Flavour::Installed : Flavour::Portable,
                                              root.filePath("program"), environment);
        const QString error =
            folder.error.isEmpty() && installed ? make_data_folder(folder.path) : folder.error;
        QVERIFY(QDir(root.filePath("program")).isEmpty());
        if (!expected.contains(' ')) {
            QCOMPARE(error, QString());
            QCOMPARE(folder.path, root.filePath(expected));
            QVERIFY(QFileInfo(folder.path).isDir());
            // The accounts file holds passwords: a folder made here is the owner's only.
            const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
            QVERIFY(!installed || !(QFile::permissions(folder.path) & others));
            QCOMPARE(QFile::exists(root.filePath("data")), expected == "data/ostrel");
        } else {
            QVERIFY2(error.contains(expected), qPrintable(error));
        }
    }
};

QTEST_GUILESS_MAIN(DataFolderTest)
#include "data_folder_test.moc"
