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
