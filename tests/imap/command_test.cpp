#include <QtTest>

#include "imap/command.h"

using ostrel::imap::Command;

class CommandTest : public QObject {
    Q_OBJECT
private slots:
    // A value goes quoted when it can and as a literal when it cannot; it
    // never adds a line, and a command that would is not built.
    void values_never_end_the_line() {
        const struct {
            QByteArray user, password;
            QByteArrayList pieces;  // synchronizing; then with LITERAL+
            QByteArray literal_plus;
        } rows[] = {{"ann", "", {"a1 LOGIN \"ann\" \"\"\r\n"}, "a1 LOGIN \"ann\" \"\"\r\n"},
                    {"a \"b\"",
                     "(x)\\{3}*%",
                     {"a1 LOGIN \"a \\\"b\\\"\" \"(x)\\\\{3}*%\"\r\n"},
                     "a1 LOGIN \"a \\\"b\\\"\" \"(x)\\\\{3}*%\"\r\n"},
                    {"j\xc3\xbcrgen",
                     "x\r\na2 DELETE INBOX",
                     {"a1 LOGIN {7}\r\n", "j\xc3\xbcrgen {18}\r\n", "x\r\na2 DELETE INBOX\r\n"},
                     "a1 LOGIN {7+}\r\nj\xc3\xbcrgen {18+}\r\nx\r\na2 DELETE INBOX\r\n"},
                    {"ann", QByteArray("se\0cret", 7), {}, {}}};
        for (const auto& row : rows) {
            Command login("a1", "LOGIN");
            login.string(row.user).string(row.password);
            QCOMPARE(login.pieces(), row.pieces);
            QCOMPARE(login.pieces(true).join(), row.literal_plus);
            QCOMPARE(login.valid(), !row.pieces.isEmpty());
        }
    }

    void program_text_goes_as_written_and_never_with_a_line_end() {
        Command fetch("a2", "UID FETCH");
        fetch.raw("43:*").raw("(UID BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])");
        QCOMPARE(fetch.pieces().join(),
                 "a2 UID FETCH 43:* (UID BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])\r\n");
        QVERIFY(!Command("a3", "EXAMINE").raw("INBOX\r\na4 LOGOUT").valid());
    }
};

QTEST_APPLESS_MAIN(CommandTest)
#include "command_test.moc"
