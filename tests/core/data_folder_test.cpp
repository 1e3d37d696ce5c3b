#include <QtTest>

#include "core/data_folder.h"
#include "support/rows.h"

using namespace ostrel;

namespace {

// Where each flavour keeps its data, under a folder holding "program/" and the
// files "file" and "data2/ostrel"; "-" unsets a variable, "~" makes it relative.
// `expected` is the folder, or part of the error.
struct Case {
    const char* name;
    bool installed;
    const char *xdg_data_home, *home, *expected;
};
const Case kCases[] = {
    {"portable: the program folder", false, "data", "h", "program"},
    {"XDG_DATA_HOME set", true, "data", "h", "data/ostrel"},
    {"XDG_DATA_HOME unset", true, "-", "h", "h/.local/share/ostrel"},
    {"XDG_DATA_HOME relative", true, "~rel", "h", "h/.local/share/ostrel"},
    {"no home", true, "-", "-", "neither XDG_DATA_HOME nor HOME"},
    {"a file on the way", true, "file", "h", "cannot create its data folder"},
    {"a file in its place", true, "data2", "h", "something else of that name"},
};

}  // namespace

class DataFolderTest : public QObject {
    Q_OBJECT
private slots:
    void data_folder_rule_data() { testing::add_rows(kCases); }
    void data_folder_rule() {
        QFETCH(Case, row);
        QTemporaryDir root;
        QDir(root.path()).mkpath("program");
        QDir(root.path()).mkpath("data2");
        QFile(root.filePath("file")).open(QIODevice::WriteOnly);
        QFile(root.filePath("data2/ostrel")).open(QIODevice::WriteOnly);
        QProcessEnvironment environment;
        const QString xdg = row.xdg_data_home, expected = row.expected;
        if (xdg != "-") {
            environment.insert("XDG_DATA_HOME",
                               xdg.startsWith('~') ? xdg.mid(1) : root.filePath(xdg));
        }
        if (QString(row.home) != "-") {
            environment.insert("HOME", root.filePath(row.home));
        }

        const DataFolder folder =
            data_folder(row.installed ? Flavour::Installed : Flavour::Portable,
                        root.filePath("program"), environment);
        const QString error =
            folder.error.isEmpty() && row.installed ? make_data_folder(folder.path) : folder.error;
        QVERIFY(QDir(root.filePath("program")).isEmpty());
        if (expected.contains(' ')) {
            QVERIFY2(error.contains(expected), qPrintable(error));
            return;
        }
        QCOMPARE(error, QString());
        QCOMPARE(folder.path, root.filePath(expected));
        QVERIFY(QFileInfo(folder.path).isDir());
        // The accounts file holds passwords: a folder made here is the owner's only.
        QVERIFY(!row.installed || (QFile::permissions(folder.path) & 0x0077) == 0);
        QCOMPARE(QFile::exists(root.filePath("data")), expected == "data/ostrel");
    }
};

QTEST_GUILESS_MAIN(DataFolderTest)
#include "data_folder_test.moc"
