#include <QtTest>

#include "pop3/reply_assembler.h"

using ostrel::ReplyAssembler;
using ostrel::ReplyMode;

Q_DECLARE_METATYPE(ReplyMode)

class ReplyAssemblerTest : public QObject {
    Q_OBJECT
private slots:
    // Replies sent ahead arrive back to back, cut anywhere into three arrivals: each is taken
    // whole, in order, every byte as it came, the same whatever the split; a "-ERR" ends at its
    // line; a block past the cap (64 here) is cut and the next taken whole. A reply not beginning
    // "+OK" or "-ER", or a block ending at a bare LF "." CR LF, is not framed as it must be.
    void replies_are_taken_whole_whatever_the_split_data() {
        QTest::addColumn<ReplyMode>("mode");
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("replies");
        const auto row = [](const char* name, ReplyMode mode, const QByteArray& stream,
                            const QStringList& replies) {
            QTest::newRow(name) << mode << stream << replies;
        };
        row("single lines", ReplyMode::SingleLine,
            "+OK 2 320\r\n-ERR bad\r\n+OK -ERR in\r\n-err low\r\n-ER caf\xe9\r\n",
            {"line: +OK 2 320\r\n", "err: -ERR bad\r\n", "line: +OK -ERR in\r\n",
             "unframed line: -err low\r\n", QString::fromLatin1("err: -ER caf\xe9\r\n")});
        row("header blocks", ReplyMode::Top,
            "+OK 120 octets\r\nFrom: ann@example.org\r\nSubject: hello\r\n\r\n.\r\n"
            "-ERR no such message\r\n+OK\r\nSubject: two\r\n\r\n.\r\n",
            {"block: From: ann@example.org\r\nSubject: hello\r\n\r\n.\r\n",
             "err: -ERR no such message\r\n", "block: Subject: two\r\n\r\n.\r\n"});
        const QByteArray long_line = "X-Long: " + QByteArray(100, 'y') + "\r\n";
        row("a block past the cap", ReplyMode::Top,
            "+OK\r\nSubject: one\r\n" + long_line + "\r\n.\r\n+OK\r\nSubject: two\r\n\r\n.\r\n",
            {"block: Subject: one\r\n" + long_line.left(50), "block: Subject: two\r\n\r\n.\r\n"});
        row("a bare LF mark inside a block", ReplyMode::Top,
            "+OK\r\nFrom: a\n.\r\nX: b\r\n\r\n.\r\n",
            {"unframed block: From: a\n.\r\n", "unframed block: \r\n.\r\n"});
    }
    void replies_are_taken_whole_whatever_the_split() {
        QFETCH(ReplyMode, mode);
        QFETCH(QByteArray, stream);
        QFETCH(QStringList, replies);
        for (int a = 0; a <= stream.size(); ++a) {
            for (int b = a; b <= stream.size(); ++b) {
                ReplyAssembler r(64);
                r.set_mode(mode);
                r.begin_reply();
                QStringList taken;
                for (const QByteArray& piece :
                     {stream.left(a), stream.mid(a, b - a), stream.mid(b)}) {
                    r.arrive(piece);
                    for (; r.reply_done(); r.next_reply()) {
                        static const char* kinds[] = {"line: ", "err: ", "block: "};
                        taken << QString(r.well_framed() ? "" : "unframed ") +
                                     kinds[r.has_block() ? 2 : int(r.reply_err())] + r.reply_text();
                    }
                }
                QVERIFY2(taken == replies,
                         qPrintable(QString("split %1 %2: ").arg(a).arg(b) + taken.join('|')));
            }
        }
    }

    // A late reply to a command that timed out never counts for the next.
    void leftovers_are_dropped_when_the_next_command_begins() {
        ReplyAssembler r;
        r.arrive("+OK first\r\n");
        r.arrive("+OK late reply of a timed-out command\r\n");
        QVERIFY(r.reply_text() == "+OK first\r\n" && r.has_leftovers());
        r.begin_reply();
        r.arrive("-ERR sec");
        QVERIFY(!r.reply_done());
        r.begin_reply();
        r.arrive("ond half\r\n");
        QCOMPARE(r.reply_text(), QString("ond half\r\n"));
    }

    // The cap holds for each reply of a pipeline alone. A line past it (a single-line reply or a
    // status line) is abandoned, its bytes let go, whether its end comes in the same arrival or
    // never, until the next command begins.
    void a_line_past_the_cap_is_abandoned_data() {
        QTest::addColumn<ReplyMode>("mode");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("single lines") << ReplyMode::SingleLine << QByteArray("+OK fine\r\n");
        QTest::newRow("header blocks")
            << ReplyMode::Top << QByteArray("+OK\r\nSubject: x\r\n\r\n.\r\n");
    }
    void a_line_past_the_cap_is_abandoned() {
        QFETCH(ReplyMode, mode);
        QFETCH(QByteArray, reply);
        for (const QByteArray& line_end : {QByteArray(), QByteArray("\r\n")}) {
            ReplyAssembler r(100);
            r.set_mode(mode);
            r.arrive(reply.repeated(10));
            int taken = 0;
            for (; r.reply_done(); r.next_reply()) {
                ++taken;
            }
            QCOMPARE(taken, 10);
            r.arrive("+OK" + QByteArray(98, 'x') + line_end);
            QVERIFY(r.overflowed());
            r.arrive("\r\n.\r\n");
            r.next_reply();
            QVERIFY(!r.reply_done());
            r.begin_reply();
            QVERIFY(!r.overflowed());
        }
    }
};

QTEST_APPLESS_MAIN(ReplyAssemblerTest)
#include "reply_assembler_test.moc"
