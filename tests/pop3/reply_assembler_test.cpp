#include <QtTest>

#include "pop3/reply_assembler.h"

using ostrel::ReplyAssembler;
using ostrel::ReplyMode;

namespace {

const QByteArray kBlock = "+OK 120 octets\r\nFrom: ann@example.org\r\nSubject: hello\r\n\r\n.\r\n";

// Feeds `reply` cut at every position into two arrivals, then at every pair
// of positions into three, and hands each assembler to `check`.
template <typename Check>
void for_every_split(const QByteArray& reply, ReplyMode mode, Check check) {
    for (int a = 0; a <= reply.size(); ++a) {
        for (int b = a; b <= reply.size(); ++b) {
            ReplyAssembler assembler;
            assembler.set_mode(mode);
            assembler.begin_reply();
            assembler.arrive(reply.left(a));
            assembler.arrive(reply.mid(a, b - a));
            const bool done_early = assembler.reply_done() && b < reply.size();
            assembler.arrive(reply.mid(b));
            check(assembler, done_early, a, b);
        }
    }
}

}  // namespace

class ReplyAssemblerTest : public QObject {
    Q_OBJECT
private slots:
    void single_line_reply_is_complete_at_its_line_end() {
        for_every_split("-ERR bad\r\n", ReplyMode::SingleLine,
                        [](const ReplyAssembler& r, bool early, int a, int b) {
                            QVERIFY2(!early, qPrintable(QString("split %1 %2").arg(a).arg(b)));
                            QVERIFY(r.reply_done());
                            QCOMPARE(r.reply_text(), QString("-ERR bad\r\n"));
                            QVERIFY(r.reply_err());
                        });
    }

    void error_test_is_the_first_three_characters_exactly() {
        ReplyAssembler r;
        r.arrive("+OK -ERR inside\r\n");
        QVERIFY(r.reply_done());
        QVERIFY(!r.reply_err());
        r.begin_reply();
        r.arrive("-err lower case\r\n");
        QVERIFY(!r.reply_err());
        r.begin_reply();
        r.arrive("-ER\r\n");
        QVERIFY(r.reply_err());
    }

    void header_block_is_gathered_whatever_the_split() {
        for_every_split(kBlock, ReplyMode::Top,
                        [](const ReplyAssembler& r, bool early, int a, int b) {
                            QVERIFY2(!early, qPrintable(QString("split %1 %2").arg(a).arg(b)));
                            QVERIFY(r.reply_done());
                            QVERIFY(r.has_block());
                            QCOMPARE(r.reply_text(), QString("From: ann@example.org\r\n"
                                                             "Subject: hello\r\n\r\n.\r\n"));
                        });
    }

    void top_error_completes_at_once_without_a_block() {
        ReplyAssembler r;
        r.set_mode(ReplyMode::Top);
        r.arrive("-ERR no such ");
        QVERIFY(!r.reply_done());
        r.arrive("message\r\n");
        QVERIFY(r.reply_done());
        QVERIFY(r.reply_err());
        QVERIFY(!r.has_block());
    }

    void an_incomplete_reply_keeps_the_previous_text() {
        ReplyAssembler r;
        r.arrive("+OK 2 320\r\n");
        r.set_mode(ReplyMode::Top);
        r.begin_reply();
        r.arrive("+OK\r\nFrom: a\r\n");
        QVERIFY(!r.reply_done());
        QVERIFY(!r.has_block());
        QCOMPARE(r.reply_text(), QString("+OK 2 320\r\n"));
    }

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

    // Replies sent ahead arrive back to back: each is taken whole, in order,
    // with the bytes after it kept for the next.
    void pipelined_replies_are_taken_in_order_whatever_the_split() {
        const QByteArray stream =
            kBlock + "-ERR no such message\r\n" + "+OK\r\nSubject: two\r\n\r\n.\r\n";
        const QStringList expected = {"From: ann@example.org\r\nSubject: hello\r\n\r\n.\r\n",
                                      "-ERR no such message\r\n", "Subject: two\r\n\r\n.\r\n"};
        for (int a = 0; a <= stream.size(); ++a) {
            for (int b = a; b <= stream.size(); ++b) {
                ReplyAssembler r;
                r.set_mode(ReplyMode::Top);
                r.begin_reply();
                QStringList taken;
                for (const QByteArray& piece :
                     {stream.left(a), stream.mid(a, b - a), stream.mid(b)}) {
                    r.arrive(piece);
                    for (; r.reply_done(); r.next_reply()) {
                        taken << r.reply_text();
                    }
                }
                QCOMPARE(taken, expected);
            }
        }
    }

    void the_cap_holds_for_each_reply_of_a_pipeline() {
        ReplyAssembler r(100);
        r.set_mode(ReplyMode::Top);
        r.arrive(QByteArray("+OK\r\nSubject: x\r\n\r\n.\r\n").repeated(10));
        int taken = 0;
        for (; r.reply_done(); r.next_reply()) {
            ++taken;
        }
        QCOMPARE(taken, 10);
        r.arrive("+OK\r\n" + QByteArray(200, 'x'));
        QVERIFY(r.overflowed());
        r.next_reply();
        QVERIFY(!r.reply_done());
    }

    void bytes_are_kept_one_for_one() {
        ReplyAssembler r;
        r.arrive(QByteArray("+OK caf\xe9\r\n"));
        QCOMPARE(r.reply_text().toLatin1(), QByteArray("+OK caf\xe9\r\n"));
    }

    void a_reply_past_the_cap_is_abandoned_and_stays_small() {
        for (ReplyMode mode : {ReplyMode::SingleLine, ReplyMode::Top}) {
            ReplyAssembler r(1000);
            r.set_mode(mode);
            r.arrive("+OK\r\n");
            if (mode == ReplyMode::SingleLine) {
                r.begin_reply();
            }
            for (int i = 0; i < 20 && !r.overflowed(); ++i) {
                r.arrive(QByteArray(100, 'x'));
            }
            QVERIFY(r.overflowed());
            QVERIFY(!r.reply_done());
            r.arrive("\r\n.\r\n");
            QVERIFY(!r.reply_done());
            r.begin_reply();
            QVERIFY(!r.overflowed());
        }
    }
};

QTEST_APPLESS_MAIN(ReplyAssemblerTest)
#include "reply_assembler_test.moc"
