#include <QtTest>

#include "imap/response_reader.h"

using ostrel::imap::Response;
using ostrel::imap::ResponseReader;

namespace {

// One response as a line: what it is ("!" for malformed), then each field that is set.
QByteArray describe(const Response& r) {
    static const char* conditions[] = {"", " OK", " NO", " BAD", " BYE", " PREAUTH"};
    QByteArray out =
        QByteArrayList{r.tag, "*", "+", "!"}[int(r.kind)] + conditions[int(r.condition)];
    if (!r.code.isEmpty()) {
        out +=
            " [" + r.code + (r.code_number ? "=" + QByteArray::number(*r.code_number) : "") + "]";
    }
    out += (r.number ? " " + QByteArray::number(r.number) : "") + (r.data.isEmpty() ? "" : " ") +
           r.data + (r.capabilities.isEmpty() ? "" : " ") + r.capabilities.join(',');
    for (const quint32 n : r.search) {
        out += ' ' + QByteArray::number(n);
    }
    const auto& f = r.fetch;
    out += (f.uid ? " uid=" + QByteArray::number(*f.uid) : "") +
           (f.size ? " size=" + QByteArray::number(*f.size) : "") +
           (f.header_fields ? " fields=" + QByteArray(*f.header_fields).replace("\r\n", "|") : "");
    return out + (r.text.isEmpty() ? "" : " '" + r.text + "'");
}

// Everything the reader gives for `pieces` arriving one after another.
QByteArrayList read(const QByteArrayList& pieces, int cap) {
    ResponseReader reader({cap / 4, cap});
    QByteArrayList taken;
    for (const QByteArray& piece : pieces) {
        reader.arrive(piece);
        while (const auto response = reader.take()) {
            taken << describe(*response);
        }
    }
    return taken + (reader.over_cap() ? QByteArrayList{"over cap"} : QByteArrayList{});
}

}  // namespace

class ResponseReaderTest : public QObject {
    Q_OBJECT
private slots:
    // Responses come out whole and alike however the bytes were cut (at any point, or bytewise);
    // a line end in a literal is the literal's; a malformed response says why, the next is read.
    void responses_are_read_whatever_the_split_data() {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArrayList>("responses");
        QTest::addColumn<int>("cap");  // response cap; literals at a quarter of it
        auto row = [](const char* name, const QByteArray& stream, const QByteArrayList& responses,
                      int cap = 1 << 20) { QTest::newRow(name) << stream << responses << cap; };
        row("greeting and EXAMINE",
            "* OK [CAPABILITY IMAP4rev1 IDLE starttls] Dovecot ready.\r\n"
            "a1 OK [READ-ONLY] Examine completed\r\n* OK [UIDVALIDITY 1700000000] UIDs valid\r\n"
            "* ok [UIDNEXT 42]\r\n* 3 EXISTS\r\n* 0 RECENT\r\n* 2 expunge\r\n+ idling\r\n+\r\n",
            {"* OK [CAPABILITY] IMAP4REV1,IDLE,STARTTLS 'Dovecot ready.'",
             "a1 OK [READ-ONLY] 'Examine completed'", "* OK [UIDVALIDITY=1700000000] 'UIDs valid'",
             "* OK [UIDNEXT=42]", "* 3 EXISTS", "* RECENT", "* 2 EXPUNGE", "+ 'idling'", "+"});
        row("conditions and free text",
            "* NO [ALERT] Quota (90%) [near\r\n* BYE going \"away\r\n* PREAUTH hi\r\n"
            "* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\nt.2 BAD [x\r\n",
            {"* NO [ALERT] 'Quota (90%) [near'", "* BYE 'going \"away'", "* PREAUTH 'hi'",
             "* CAPABILITY IMAP4REV1,AUTH=PLAIN", "t.2 BAD '[x'"});
        row("header fields in literals",
            "* 12 FETCH (UID 345 RFC822.SIZE 4410 BODY[HEADER.FIELDS (FROM SUBJECT)] {27}\r\n"
            "From: a@b\r\nSubject: {5}\r\n\r\n FLAGS (\\Seen))\r\n"
            "* 13 FETCH (BODY[HEADER.FIELDS (FROM)]<0> {3+}\r\n\xe9\") UID 9)\r\n",
            {"* 12 FETCH uid=345 size=4410 fields=From: a@b|Subject: {5}||",
             "* 13 FETCH uid=9 fields=\xe9\")"});
        row("quoted and empty header fields, nested values skipped",
            "* 1 FETCH (BODY[HEADER.FIELDS (\"From\" \"]\")] \"S: \\\"q\\\" \\\\o/\" UID 7)\r\n"
            "* 2 FETCH (UID 8 BODY[HEADER.FIELDS (SUBJECT)] NIL)\r\n"
            "* 3 FETCH (BODYSTRUCTURE (\"text\" (\"a\" {1}\r\nb) NIL () 3) UID 10)\r\n",
            {"* 1 FETCH uid=7 fields=S: \"q\" \\o/",
             "* 2 FETCH uid=8 fields=", "* 3 FETCH uid=10"});
        row("search, other data skipped",
            "* SEARCH 2 84 4294967295\r\n* SEARCH\r\n* SEARCH 5 (MODSEQ 917162500)\r\n"
            "* FLAGS (\\Seen \\*)\r\n* LIST () \".\" {5}\r\nINBOX\r\n* 5 XFOO (\r\n",
            {"* SEARCH 2 84 4294967295", "* SEARCH", "* SEARCH 5", "* FLAGS", "* LIST",
             "* 5 XFOO"});
        row("malformed",
            "a1 MAYBE\r\n\r\n* \r\n* 1 FETCH (UID 0)\r\n* 1 FETCH (UID 5\r\n* 2 FETCH (UID "
            "4294967296)"
            "\r\n* OK hi {3}\r\nabc\r\n* 1 FETCH (BODY[HEADER {3}\r\nabc)\r\n* 1 FETCH (X "
            "\"a\\b\")\r\n"
            "* 1 FETCH (X \"open\r\n* SEARCH 1 x\r\n* 1 FETCH (X " +
                QByteArray(40, '(') + "\r\n* 3 EXISTS now\r\n+ fine\r\n",
            {"! 'a tagged response is not OK, NO or BAD'",
             "! 'a response begins with neither a tag, \"*\" nor \"+\"'",
             "! 'untagged data has no name'", "! 'a UID is not a number above zero'",
             "! 'FETCH items are not closed'", "! 'a UID is not a number above zero'",
             "! 'unexpected bytes before the line end'", "! 'a section has no closing bracket'",
             "! 'a quoted string holds a stray backslash'", "! 'a quoted string is not closed'",
             "! 'a search result is not a number'", "! 'lists nest too deep'",
             "! 'unexpected bytes before the line end'", "+ 'fine'"});
        // Over a cap: the responses before it are still read, nothing after.
        row("literal over its cap",
            "* 1 EXISTS\r\n* 1 FETCH (BODY[] {17}\r\nshort)\r\n* 2 EXISTS\r\n",
            {"* 1 EXISTS", "over cap"}, 64);
        row("literal past the response cap",
            "* 1 FETCH (UID 1 RFC822.SIZE 12345 BODY[] {16}\r\n0123456789abcdef)\r\n", {"over cap"},
            64);
        row("line past the response cap", "* 1 EXISTS\r\n* OK " + QByteArray(60, 'x') + "\r\n",
            {"* 1 EXISTS", "over cap"}, 64);
        row("endless announcement", "* 1 FETCH (BODY[] {99999999999999999999999}\r\n",
            {"over cap"});
    }
    void responses_are_read_whatever_the_split() {
        QFETCH(QByteArray, stream);
        QFETCH(QByteArrayList, responses);
        QFETCH(int, cap);
        QByteArrayList bytes;
        for (int at = 0; at < stream.size(); ++at) {
            QCOMPARE(read({stream.left(at), stream.mid(at)}, cap), responses);
            bytes << stream.mid(at, 1);
        }
        QCOMPARE(read(bytes, cap), responses);
    }

    // What came after STARTTLS's reply was sent in clear: the session must see it was there.
    void bytes_beyond_the_taken_responses_show() {
        ResponseReader reader;
        reader.arrive("a1 OK Begin TLS\r\n* OK inj");
        QVERIFY(reader.take() && reader.holds_unread());
        reader.arrive("ected\r\n");
        QVERIFY(reader.take() && !reader.holds_unread());
    }
};

QTEST_APPLESS_MAIN(ResponseReaderTest)
#include "response_reader_test.moc"
