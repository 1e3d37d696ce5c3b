#include <QtTest>

#include "config/account_fields.h"
#include "config/accounts_file.h"
#include "config/general_settings.h"
#include "support/temp_folder.h"

using namespace ostrel;

// The accounts file and the settings file, read and written without a window.
class DataFilesTest : public QObject {
    Q_OBJECT
private slots:
    void reads_lines_and_fields_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("servers");
        QTest::addColumn<QStringList>("search_words");
        QTest::addColumn<bool>("ok");
        const auto row = [](const char* name, const QByteArray& content, const QStringList& servers,
                            const QStringList& words, bool ok = true) {
            QTest::newRow(name) << content << servers << words << ok;
        };
        row("empty file", "", {}, {});
        row("fifth field ignored", "s<>l<>p<>one<>two\r\n", {"s"}, {"one"});
        row("CR alone ends a line, last unended", "a<>l<>p<>\rb<>l<>p<>", {"a", "b"}, {"", ""});
        row("LF alone does not end a line", "a<>l<>p<>x\nb<>l<>p<>y\r\n", {"a"}, {"x\nb"});
        row("identical lines both read", "s<>l<>p<>\r\ns<>l<>p<>\r\n", {"s", "s"}, {"", ""});
        row("empty line is an error", "\r\na<>l<>p<>\r\n", {}, {}, false);
        // A line of the older program, in windows-1252, beside one in UTF-8.
        row("windows-1252 line", "s\xe9<>l<>p<>caf\xe9 \x80\r\nt<>l<>p<>caf\xc3\xa9\r\n",
            {"s\u00e9", "t"}, {"caf\u00e9 \u20ac", "caf\u00e9"});
    }
    void reads_lines_and_fields() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, servers);
        QFETCH(QStringList, search_words);
        QFETCH(bool, ok);
        testing::TempProgramFolder folder;
        folder.write("lumetta_pop.cfg", content);
        const AccountsRead read = readAccounts(folder.file("lumetta_pop.cfg"));
        QCOMPARE(read.ok(), ok);
        QStringList read_servers, read_words;
        for (const PopAccount& account : read.accounts) {
            read_servers << account.server;
            read_words << account.search_words;
        }
        QCOMPARE(read_servers, servers);
        QCOMPARE(read_words, search_words);
    }

    void append_ends_an_unended_line_and_round_trips() {
        testing::TempProgramFolder folder;
        const QString path = folder.file("lumetta_pop.cfg");
        // A line of the older program, in windows-1252.
        const QByteArray old_line = "pop.a<>J\xe9r\xf4me<>pw<>news";
        folder.write("lumetta_pop.cfg", old_line);
        QVERIFY(appendAccount(path, {"S", "L", "", ""}).isEmpty());
        QVERIFY(appendAccount(path, {"mail.example", "ann", "pä ss", "João news"}).isEmpty());
        QVERIFY(folder.read("lumetta_pop.cfg").startsWith(old_line + "\r\nS<>L<><>\r\n"));
        AccountsRead read = readAccounts(path);
        QCOMPARE(read.accounts.size(), 3);
        QCOMPARE(read.accounts[2], (PopAccount{"mail.example", "ann", "pä ss", "João news"}));
        // The editor's Edit and Save keep its text, written back in UTF-8.
        const PopAccount old_account{"pop.a", "Jérôme", "pw", "news"};
        QCOMPARE(read.accounts[0], old_account);
        QVERIFY(replace_account(path, account_key(old_account), old_account).isEmpty());
        QVERIFY(folder.read("lumetta_pop.cfg").endsWith("\r\npop.a<>Jérôme<>pw<>news\r\n"));
        QCOMPARE(readAccounts(path).accounts.value(2), old_account);
        // A file the append creates is the owner's only: it holds passwords.
        QVERIFY(appendAccount(folder.file("new.cfg"), {"S", "L", "pw", ""}).isEmpty());
        QCOMPARE(QFile::permissions(folder.file("new.cfg")) & 0x0077, 0);
        // The start makes an empty one only where none is: never over one.
        QVERIFY(!create_empty_accounts_file(path).isEmpty());
    }

    // Only lines of that server and login go; odd lines and a long tail stay.
    void drop_removes_exactly_the_accounts_lines() {
        testing::TempProgramFolder folder;
        const QByteArray kept =
            "srv<>anna<>p<>\r\n"
            "SRV<>ann<>p<>\r\n"
            "xsrv<>ann<>p<>\r\n"
            "hand<>written\r\n"
            "raw\xff\xfe<>x<>y<>z\r\n";
        QByteArray tail;
        for (int i = 0; i < 150; ++i) {
            tail += "host" + QByteArray::number(i) + "<>u<>p<>\r\n";
        }
        folder.write("lumetta_pop.cfg", "srv<>ann<>p<>\r\n" + kept + "srv<>ann<>q<>w\r\n" + tail);
        QVERIFY(dropAccount(folder.file("lumetta_pop.cfg"), account_key("srv", "ann")).isEmpty());
        QCOMPARE(folder.read("lumetta_pop.cfg"), kept + tail);
        QCOMPARE(QFile::permissions(folder.file("lumetta_pop.cfg")) & 0x0077, 0);
    }

    // Blanks and quotes go, a quoted comma stays; a CR alone ends a field.
    void splits_delimited_fields() {
        QCOMPARE(read_delimited_fields(" 7 \r\n 0\r\n"), QStringList({"7", "0"}));
        QCOMPARE(read_delimited_fields("\"15\"\r\n\"1\"\r\n"), QStringList({"15", "1"}));
        QCOMPARE(read_delimited_fields("\"1,5\"\r\n0"), QStringList({"1,5", "0"}));
        QCOMPARE(read_delimited_fields("3\r0"), QStringList({"3", "0"}));
        QCOMPARE(read_delimited_fields(""), QStringList());
    }
};

QTEST_APPLESS_MAIN(DataFilesTest)
#include "data_files_test.moc"
