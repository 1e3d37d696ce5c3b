#include <QtTest>

#include "pop3/capabilities.h"
#include "pop3/header_cache.h"
#include "pop3/unique_ids.h"
#include "support/temp_folder.h"

using namespace ostrel;

namespace {

const QString kServer = QStringLiteral("pop.example.org:995");

QList<CachedHeader> awkward_messages() {
    return {
        {"uid-1", {"\"Ann\" <ann@x>", "plain"}},
        {"0000002a4e1f", {QString::fromLatin1("caf\xe9 \\ back\tslash"), "=?UTF-8?Q?a?=\r\n\tb"}},
        {"~!", {QString(), QStringLiteral("\r\n folded from the start")}}};
}

}  // namespace

class HeaderCacheTest : public QObject {
    Q_OBJECT
private slots:
    void written_and_read_back_alike() {
        const QByteArray content = header_cache_content(kServer, awkward_messages());
        QVERIFY(
            content.startsWith("Ostrel header cache 1 pop.example.org:995\r\nuid-1\t\"Ann\" "
                               "<ann@x>\tplain\r\n0000002a4e1f\tcaf\xe9 \\\\ back\\tslash\t"
                               "=?UTF-8?Q?a?=\\r\\n\\tb\r\n"));
        QString problem;
        const auto read = parse_header_cache(content, kServer, &problem);
        QVERIFY2(read, qPrintable(problem));
        QCOMPARE(read->size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(read->at(i).unique_id, awkward_messages()[i].unique_id);
            QCOMPARE(read->at(i).fields.from, awkward_messages()[i].fields.from);
            QCOMPARE(read->at(i).fields.subject, awkward_messages()[i].fields.subject);
        }
    }

    void a_damaged_or_foreign_file_gives_nothing_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("problem");
        const QByteArray head = "Ostrel header cache 1 pop.example.org:995\r\n";
        const QString foreign = "it does not begin with the format line";
        QTest::newRow("empty") << QByteArray() << foreign;
        QTest::newRow("another server")
            << QByteArray("Ostrel header cache 1 pop.example.org\r\n") << foreign;
        QTest::newRow("another version")
            << QByteArray("Ostrel header cache 2 pop.example.org:995\r\n") << foreign;
        QTest::newRow("last line cut") << head + "a\tb\tc"
                                       << "line 2 is damaged";
        QTest::newRow("bad escape") << head + "a\tb\tc\r\nd\t\\x\tf\r\n"
                                    << "line 3 is damaged";
        QTest::newRow("escape at the end") << head + "a\tb\tc\\\r\n"
                                           << "line 2 is damaged";
        QTest::newRow("two fields") << head + "a\tb\r\n"
                                    << "line 2 is damaged";
        QTest::newRow("four fields") << head + "a\tb\tc\td\r\n"
                                     << "line 2 is damaged";
        QTest::newRow("id twice") << head + "a\tb\tc\r\na\tb\tc\r\n"
                                  << "line 3 is damaged";
        QTest::newRow("empty id") << head + "\tb\tc\r\n"
                                  << "line 2 is damaged";
        QTest::newRow("blank in id") << head + "a b\tb\tc\r\n"
                                     << "line 2 is damaged";
        QTest::newRow("raw CR") << head + "a\tb\rx\tc\r\n"
                                << "line 2 is damaged";
        QTest::newRow("fold without a blank") << head + "a\tb\\r\\nx\tc\r\n"
                                              << "line 2 is damaged";
        QTest::newRow("LF without CR") << head + "a\tb\\n c\tc\r\n"
                                       << "line 2 is damaged";
    }
    void a_damaged_or_foreign_file_gives_nothing() {
        QFETCH(QByteArray, content);
        QFETCH(QString, problem);
        QString found;
        QVERIFY(!parse_header_cache(content, kServer, &found));
        QVERIFY2(found.startsWith(problem), qPrintable(found));
    }

    void a_missing_file_is_an_empty_cache_and_writing_is_whole() {
        testing::TempProgramFolder folder;
        const QString path = folder.file(header_cache_file_name(kServer));
        QString problem;
        QVERIFY(load_header_cache(path, kServer, &problem).isEmpty());
        QCOMPARE(problem, QString());
        QCOMPARE(write_header_cache(path, header_cache_content(kServer, awkward_messages())),
                 QString());
        const auto cache = load_header_cache(path, kServer, &problem);
        QCOMPARE(problem, QString());
        QCOMPARE(cache.value("~!").subject, QStringLiteral("\r\n folded from the start"));
        QVERIFY(!write_header_cache(folder.path(), "x").isEmpty());
    }

    void capabilities_by_their_first_word() {
        const Capabilities found =
            parse_capabilities(u"TOP\r\nuidl\r\nSASL PLAIN\r\nPipelining\r\n.\r\n");
        QVERIFY(found.uidl && found.pipelining);
        const Capabilities none = parse_capabilities(u"TOP\r\nX-UIDL\r\nLOGIN-DELAY 900\r\n.\r\n");
        QVERIFY(!none.uidl && !none.pipelining);
        QVERIFY(!parse_capabilities(u"TOP\r\n.\r\nUIDL\r\n").uidl);
    }

    void unique_id_listings_data() {
        QTest::addColumn<QString>("listing");
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QStringList>("ids");  // empty: unusable
        const QStringList two = {"a1", "~z!"};
        QTest::newRow("in order") << "1 a1\r\n2 ~z!\r\n.\r\n" << 2ll << two;
        QTest::newRow("out of order") << "2 ~z!\r\n1 a1\r\n.\r\n" << 2ll << two;
        QTest::newRow("empty mailbox") << ".\r\n" << 0ll << QStringList();
        QTest::newRow("fewer than STAT") << "1 a1\r\n.\r\n" << 2ll << QStringList();
        QTest::newRow("more than STAT") << "1 a1\r\n2 b\r\n3 c\r\n.\r\n" << 2ll << QStringList();
        QTest::newRow("number twice") << "1 a1\r\n1 b\r\n.\r\n" << 2ll << QStringList();
        QTest::newRow("number 0") << "0 a1\r\n2 b\r\n.\r\n" << 2ll << QStringList();
        QTest::newRow("leading zero") << "01 a1\r\n2 b\r\n.\r\n" << 2ll << QStringList();
        QTest::newRow("two blanks") << "1  a1\r\n2 b\r\n.\r\n" << 2ll << QStringList();
        QTest::newRow("blank in id") << "1 a 1\r\n2 b\r\n.\r\n" << 2ll << QStringList();
        QTest::newRow("id too long") << "1 " + QString(256, 'x') + "\r\n.\r\n"
                                     << 1ll << QStringList();
        QTest::newRow("no end mark") << "1 a1\r\n2 b\r\n" << 2ll << QStringList();
        QTest::newRow("bare LF") << "1 a1\n2 b\r\n.\r\n" << 2ll << QStringList();
        QTest::newRow("huge claimed count") << "1 a1\r\n.\r\n" << 2000000000ll << QStringList();
    }
    void unique_id_listings() {
        QFETCH(QString, listing);
        QFETCH(qint64, count);
        QFETCH(QStringList, ids);
        const auto parsed = parse_unique_ids(listing, count);
        QCOMPARE(bool(parsed), !ids.isEmpty() || count == 0);
        QCOMPARE(parsed.value_or(QStringList()), ids);
        QVERIFY(unique_id_listing_cap(100000) >= 100000 * 80);
    }
};

QTEST_APPLESS_MAIN(HeaderCacheTest)
#include "header_cache_test.moc"
