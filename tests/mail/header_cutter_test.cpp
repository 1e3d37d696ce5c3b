#include <QtTest>

#include "mail/header_cutter.h"

using ostrel::cut_headers;
using ostrel::header_value;

namespace {

const QString kRealBlock = QStringLiteral(
    "Return-Path: <bounce@lists.example.org>\r\n"
    "Received: from mx.example.org (mx.example.org [192.0.2.7])\r\n"
    "\tby pop.example.net with ESMTP id 4F2; Sun, 6 Dec 2026 10:00:01 +0000\r\n"
    "Received: from relay (From: spoofed@x) by mx.example.org\r\n"
    "Resent-From: list-owner@lists.example.org\r\n"
    "X-Original-From: original@elsewhere.example\r\n"
    "From: \"Ann Smith\" <ann@example.org>\r\n"
    "To: bob@example.net\r\n"
    "Subject: =?UTF-8?Q?caf=C3=A9?= plans +OK\r\n"
    " continued on a folded line\r\n"
    "Date: Sun, 6 Dec 2026 10:00:00 +0000\r\n"
    "\r\n"
    ".\r\n");

}  // namespace

class HeaderCutterTest : public QObject {
    Q_OBJECT
private slots:
    void real_block_gives_the_own_sender_and_first_subject_line() {
        const auto values = cut_headers(kRealBlock);
        QCOMPARE(values.from, QString("\"Ann Smith\" <ann@example.org>"));
        QCOMPARE(values.subject, QString("=?UTF-8?Q?caf=C3=A9?= plans +OK"));
        // What the user reads: every line of the value, decoded.
        QCOMPARE(values.display.from, values.from);
        QCOMPARE(values.display.sender, QString("Ann Smith"));
        QCOMPARE(values.display.subject, QString("caf\u00e9 plans +OK continued on a folded line"));
        QCOMPARE(cut_headers(u"Subject: a\n\tb\nFrom: c\n\n").display.subject, QString("a b"));
    }

    // Names in any case, blank optional; missing is empty; the first of two counts,
    // nothing past the headers does.
    void values_of_short_blocks() {
        const auto upper = cut_headers(u"FROM: A\r\nsubject:Hi\r\n\r\n.\r\n");
        QCOMPARE(upper.from + upper.subject, QString("AHi"));
        const auto values = cut_headers(u"Received: by x\r\nFrom: a@b\r\n\r\n.\r\n");
        QCOMPARE(values.from + "|" + values.subject, QString("a@b|"));
        QCOMPARE(header_value(u"from:\tB\r\n", u"From"), QString("B"));
        QCOMPARE(header_value(u"From:  two blanks\r\n", u"From"), QString(" two blanks"));
        QCOMPARE(header_value(u"Subject\r\n", u"Subject"), QString());
        QCOMPARE(header_value(u"", u"From"), QString());
        QCOMPARE(header_value(u"From: one\r\nFrom: two\r\n", u"From"), QString("one"));
        QCOMPARE(header_value(u"To: x\r\n\r\nFrom: body\r\n", u"From"), QString());
        QCOMPARE(header_value(u"From: lf only\nSubject: s\n", u"Subject"), QString("s"));
        QCOMPARE(header_value(u"From: cut short", u"From"), QString("cut short"));
        QCOMPARE(header_value(u"From:\r\n", u"From"), QString());
    }
};

QTEST_APPLESS_MAIN(HeaderCutterTest)
#include "header_cutter_test.moc"
