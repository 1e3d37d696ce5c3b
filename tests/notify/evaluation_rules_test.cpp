#include <QtTest>

#include "core/data_files.h"
#include "core/date_time_text.h"
#include "notify/search_matching.h"
#include "notify/seen_state.h"
#include "pop3/display_text.h"
#include "support/temp_folder.h"

using namespace ostrel;

namespace {

MessageTable table(const QList<QPair<QString, QString>>& from_subject) {
    MessageTable messages;
    for (int i = 0; i < from_subject.size(); ++i) {
        store_decoded(messages, i, i + 1, from_subject[i].first, from_subject[i].second);
    }
    return messages;
}

}  // namespace

class EvaluationRulesTest : public QObject {
    Q_OBJECT
private slots:
    void seen_text_joins_lines_without_separators() {
        QCOMPARE(seen_text_from("a b\r\nc d\re\r\n").text, QString("a bc de"));
        QCOMPARE(seen_text_from("x\ny").text, QString("x\ny"));
        QCOMPARE(seen_text_from("\xe9t\xe9").text, QString::fromLatin1("\xe9t\xe9"));
    }

    void new_mail_detection_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<int>("new_count");
        QTest::addColumn<QString>("senders");
        const QString ann = "Ann Lee <ann@example.org>";
        QTest::newRow("empty file: all new")
            << QByteArray() << ann << "Hello" << 1 << "\r\nAnn Lee";
        QTest::newRow("part of an old subject is seen")
            << QByteArray("1/1/26 10:00:00 x Re: Hello\r\n") << ann << "Hello" << 0 << "";
        QTest::newRow("longer than an old subject is new")
            << QByteArray("1/1/26 10:00:00 x Hello\r\n") << ann << "Re: Hello" << 1
            << "\r\nAnn Lee";
        QTest::newRow("case matters")
            << QByteArray("1/1/26 10:00:00 x hello\r\n") << ann << "Hello" << 1 << "\r\nAnn Lee";
        QTest::newRow("subject equal to a date is seen")
            << QByteArray("1/1/26 10:00:00 x y\r\n") << ann << "1/1/26" << 0 << "";
        QTest::newRow("subject across the join of two lines is seen")
            << QByteArray("d t a One\r\nTwo b c\r\n") << ann << "OneTwo" << 0 << "";
        QTest::newRow("empty subject, file not empty: seen")
            << QByteArray("d t a b\r\n") << ann << "" << 0 << "";
        QTest::newRow("empty subject, empty file: new")
            << QByteArray() << ann << "" << 1 << "\r\nAnn Lee";
        QTest::newRow("address without a name shown whole") << QByteArray() << "<a@b>"
                                                            << "s" << 1 << "\r\n<a@b>";
        QTest::newRow("decoded name") << QByteArray() << "=?UTF-8?Q?J=C3=BCrgen?= <j@b>"
                                      << "s" << 1 << "\r\nJ\u00fcrgen";
        QTest::newRow("empty From adds no line") << QByteArray() << ""
                                                 << "s" << 1 << "";
    }
    void new_mail_detection() {
        QFETCH(QByteArray, file);
        QFETCH(QString, from);
        QFETCH(QString, subject);
        QFETCH(int, new_count);
        QFETCH(QString, senders);
        const NewMailResult result =
            detect_new_mail(seen_text_from(file), table({{from, subject}}), 1);
        QCOMPARE(result.new_count, new_count);
        QCOMPARE(result.senders_text, senders);
    }

    void no_messages_means_nothing_new_and_an_empty_file() {
        QCOMPARE(detect_new_mail({}, MessageTable(), 0).new_count, 0);
        QCOMPARE(seen_state_content(table({{"a", "b"}}), 0), QByteArray());
    }

    // Korean times hold letters outside Latin-1; header bytes stay as they came.
    void rewrite_keeps_server_bytes_and_round_trips() {
        QLocale::setDefault(QLocale(QLocale::Korean, QLocale::SouthKorea));
        testing::TempProgramFolder folder;
        // STAT counted 3; the third header block never arrived.
        const MessageTable messages =
            table({{"Ann <a@b>", "Caf\u00e9"}, {"Bob", "Report, Q3 - final"}});
        const QString path = folder.file("mail.example.svr");
        const QString before = date_time_text();
        QVERIFY(write_seen_state(path, seen_state_content(messages, 3)).isEmpty());
        const QStringList moments = {before, date_time_text()};
        QLocale::setDefault(QLocale::system());
        const QByteArray content = folder.read("mail.example.svr");
        const QList<QByteArray> lines = content.split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].endsWith(" Ann <a@b> Caf\xe9\r"));
        QVERIFY(lines[1].endsWith(" Bob Report, Q3 - final\r"));
        const QString written = QString::fromUtf8(lines[0].left(lines[0].indexOf(" Ann")));
        QVERIFY2(moments.contains(written), qPrintable(written));
        SeenText seen;
        QVERIFY(load_seen_state(path, &seen).isEmpty());
        QCOMPARE(detect_new_mail(seen, messages, 3).new_count, 0);
    }

    void unsafe_server_names_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("unsafe");
        QTest::newRow("host") << "pop.example.org" << false;
        QTest::newRow("ipv6 with port") << "[::1]:110" << false;
        QTest::newRow("slash") << "../../etc/passwd" << true;
        QTest::newRow("backslash") << "a\\b" << true;
        QTest::newRow("absolute") << "/tmp/x" << true;
        QTest::newRow("dot") << "." << true;
        QTest::newRow("dot dot") << ".." << true;
        QTest::newRow("line feed") << "a\nb" << true;
        QTest::newRow("NUL") << QString(QChar(0)) + "x" << true;
    }
    void unsafe_server_names() {
        QFETCH(QString, server);
        QFETCH(bool, unsafe);
        QCOMPARE(!unsafe_server_name_reason(server).isEmpty(), unsafe);
    }

    void search_words_data() {
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QStringList>("matches");
        const QString ann = "Ann Lee <ann@example.org>";
        QTest::newRow("case ignored") << "lee" << ann << "Hi" << QStringList{"lee"};
        QTest::newRow("one-letter word ignored") << "a lee" << ann << "Hi" << QStringList{"lee"};
        QTest::newRow("blanks only") << "   " << ann << "Hi" << QStringList{};
        QTest::newRow("across the join") << "nnmee"
                                         << "Ann"
                                         << "Meeting" << QStringList{"nnmee"};
        QTest::newRow("two words, repeats kept")
            << "hi LEE hi" << ann << "Hi" << QStringList{"hi", "LEE", "hi"};
        QTest::newRow("tab stays inside a word") << "lee\tx" << ann << "Hi" << QStringList{};
        QTest::newRow("accents in an encoded From")
            << "jürgen café"
            << "=?UTF-8?B?SsO8cmdlbg==?= <j@b>"
            << "=?ISO-8859-1?Q?Caf=E9?=" << QStringList{"jürgen", "café"};
        QTest::newRow("raw UTF-8 subject") << "grüße"
                                           << "a@b"
                                           << QString::fromLatin1(
                                                  "Gr\xc3\xbc\xc3\x9f"
                                                  "e")
                                           << QStringList{"grüße"};
        QTest::newRow("the raw text still matches") << "utf-8 =c3"
                                                    << "=?UTF-8?Q?J=C3=BCrgen?= <j@b>"
                                                    << "" << QStringList{"utf-8", "=c3"};
        QTest::newRow("locale upper case") << "JOÃO"
                                           << "joão"
                                           << "" << QStringList{"JOÃO"};
    }
    void search_words() {
        QFETCH(QString, words);
        QFETCH(QString, from);
        QFETCH(QString, subject);
        QFETCH(QStringList, matches);
        QStringList found;
        for (const SearchMatch& match : find_matches(words, table({{from, subject}}), 1)) {
            found << match.word;
        }
        QCOMPARE(found, matches);
    }

    void matches_come_message_by_message() {
        const auto matches = find_matches("xx yy", table({{"yy", "xx"}, {"", "xx"}}), 2);
        QCOMPARE(matches.size(), 3);
        QCOMPARE(matches[0].message, 1);
        QCOMPARE(matches[0].word, QString("xx"));
        QCOMPARE(matches[1].word, QString("yy"));
        QCOMPARE(matches[2].message, 2);
    }
};

QTEST_APPLESS_MAIN(EvaluationRulesTest)
#include "evaluation_rules_test.moc"
