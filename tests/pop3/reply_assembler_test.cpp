#include <QtTest>

#include "pop3/reply_assembler.h"

using ostrel::ReplyAssembler;
using ostrel::ReplyMode;

Q_DECLARE_METATYPE(ReplyMode)

class ReplyAssemblerTest : public QObject {
    Q_OBJECT
private slots:
    // Replies sent ahead arrive back to back, cut anywhere into three
    // arrivals: each is taken whole, never early, in order, with the bytes
    // after it kept for the next, every byte as it came; a "-ERR" ends at its
    // line and has no block, and only "-ER" at the very start is an error.
    void replies_are_taken_whole_whatever_the_split_data() {
        QTest::addColumn<ReplyMode>("mode");
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("replies");
        QTest::newRow("single lines")
            << ReplyMode::SingleLine
            << QByteArray("+OK 2 320\r\n-ERR bad\r\n+OK -ERR in\r\n-err low\r\n-ER caf\xe9\r\n")
            << QStringList{"line: +OK 2 320\r\n", "err: -ERR bad\r\n", "line: +OK -ERR in\r\n",
                           "line: -err low\r\n", QString::fromLatin1("err: -ER caf\xe9\r\n")};
        QTest::newRow("header blocks")
            << ReplyMode::Top
            << QByteArray(
                   "+OK 120 octets\r\nFrom: ann@example.org\r\nSubject: hello\r\n\r\n.\r\n"
                   "-ERR no such message\r\n+OK\r\nSubject: two\r\n\r\n.\r\n")
            << QStringList{"block: From: ann@example.org\r\nSubject: hello\r\n\r\n.\r\n",
                           "err: -ERR no such message\r\n", "block: Subject: two\r\n\r\n.\r\n"};
    }
    void replies_are_taken_whole_whatever_the_split() {
        QFETCH(ReplyMode, mode);
        QFETCH(QByteArray, stream);
        QFETCH(QStringList, replies);
        for (int a = 0; a <= stream.size(); ++a) {
            for (int b = a; b <= stream.size(); ++b) {
                ReplyAssembler r;
                r.set_mode(mode);
                r.begin_reply();
                QStringList taken;
                for (const QByteArray& piece :
                     {stream.left(a), stream.mid(a, b - a), stream.mid(b)}) {
                    r.arrive(piece);
                    for (; r.reply_done(); r.next_reply()) {
                        const char* kind = r.has_block()   ? "block: "
                                           : r.reply_err() ? "err: "
                                                           : "line: ";
                        taken << kind + r.reply_text();
                    }
                }
                QVERIFY2(taken == replies, qPrintable(QString("split %1 %2").arg(a).arg(b)));
            }
        }
    }

    // A late reply to a command that timed out never counts for the next.
    void leftovers_are_dropped_when_the_next_command_begins() {
        ReplyAssembler r;
        r.arrive("+OK first\r\n");
        r.arrive("+OK late reply of a timed-out command\r\n");
        QCOMPARE(r.reply_text(), QString("+OK first\r\n"));
        r.begin_reply();
        r.arrive("-ERR sec");
        QVERIFY(!r.reply_done());
        r.begin_reply();
        r.arrive("ond half\r\n");
        QCOMPARE(r.reply_text(), QString("ond half\r\n"));
    }

    // The cap holds for each reply of a pipeline alone; a reply past it is
    // abandoned, its bytes let go, until the next command begins.
    void a_reply_past_the_cap_is_abandoned_data() {
        QTest::addColumn<ReplyMode>("mode");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("single lines") << ReplyMode::SingleLine << QByteArray("+OK fine\r\n");
        QTest::newRow("header blocks")
            << ReplyMode::Top << QByteArray("+OK\r\nSubject: x\r\n\r\n.\r\n");
    }
    void a_reply_past_the_cap_is_abandoned() {
        QFETCH(ReplyMode, mode);
        QFETCH(QByteArray, reply);
        ReplyAssembler r(100);
        r.set_mode(mode);
        r.arrive(reply.repeated(10));
        int taken = 0;
        for (; r.reply_done(); r.next_reply()) {
            ++taken;
        }
        QCOMPARE(taken, 10);
        for (int i = 0; i < 20 && !r.overflowed(); ++i) {
            r.arrive(QByteArray(10, 'x'));
        }
        QVERIFY(r.overflowed());
        r.arrive("\r\n.\r\n");
        r.next_reply();
        QVERIFY(!r.reply_done());
        r.begin_reply();
        QVERIFY(!r.overflowed());
    }
};

QTEST_APPLESS_MAIN(ReplyAssemblerTest)
#include "reply_assembler_test.moc"
