#include <QtTest>

#include "pop3/capabilities.h"
#include "pop3/header_cache.h"
#include "pop3/unique_ids.h"
#include "support/temp_folder.h"

using namespace ostrel;

namespace {

const CacheOwner kOwner{QStringLiteral("pop.example.org:995"), QStringLiteral("ann")};
const QByteArray kHead = "Ostrel header cache 2 pop.example.org:995\tann\r\n";

}  // namespace

class HeaderCacheTest : public QObject {
    Q_OBJECT
private slots:
    void written_and_read_back_alike() {
        const QList<CachedHeader> messages = {
            {"0000002a4e1f",
             4096,
             {QString::fromLatin1("caf\xe9 \\ x\ty"), "=?UTF-8?Q?a?=\r\n\tb"},
             {}},
            {"~!", 0, {QString(), QStringLiteral("\r\n folded from the start")}, {}}};
        testing::TempProgramFolder folder;
        const QString path = folder.file(header_cache_file_name(kOwner));
        QString problem;
        QVERIFY(load_header_cache(path, kOwner, &problem).isEmpty());
        const QByteArray content = header_cache_content(kOwner, messages);
        QCOMPARE(content, kHead +
                              "0000002a4e1f\t4096\tcaf\xe9 \\\\ x\\ty\t=?UTF-8?Q?a?=\\r\\n\\tb\r\n"
                              "~!\t0\t\t\\r\\n folded from the start\r\n");
        QCOMPARE(write_header_cache(path, content), QString());
        const auto cache = load_header_cache(path, kOwner, &problem);
        QCOMPARE(problem, QString());
        const CachedHeader first = cache.value("0000002a4e1f");
        QVERIFY(cache.size() == 2 && first.fields.from == messages[0].fields.from &&
                first.size == 4096 &&
                cache.value("~!").fields.subject == messages[1].fields.subject);
        QVERIFY(!write_header_cache(folder.path(), "x").isEmpty());
    }

    // One file per account whatever its login; the shared old file is told by its first line.
    void one_file_per_account() {
        QStringList names;
        for (const QString& login :
             QStringList{"ann", "Ann", "a/b\\..\\c", QString(4000, 'l'), "\u00e9\tx"}) {
            names << header_cache_file_name({"pop.example.org", login});
        }
        QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), names.size());
        const QRegularExpression form("^pop\\.example\\.org@[0-9a-f]{16}\\.hdr$");
        QCOMPARE(names.filter(form), names);
        QCOMPARE(shared_header_cache_file_name("pop.example.org"), "pop.example.org.hdr");
        QVERIFY(is_shared_header_cache("Ostrel header cache 1 pop.example.org\r\na\tb\tc\r\n",
                                       "pop.example.org"));
        QVERIFY(!is_shared_header_cache("Ostrel header cache 1 pop.example.org:995\r\n",
                                        "pop.example.org") &&
                !is_shared_header_cache(kHead, "pop.example.org:995"));
    }

    void a_damaged_or_foreign_file_gives_nothing_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("problem");
        const auto row = [](const char* name, const QByteArray& content, int line) {
            QTest::newRow(name) << content
                                << (line ? QString("line %1 is damaged").arg(line)
                                         : QString("it does not begin with the format line"));
        };
        row("empty", QByteArray(), 0);
        row("another server", "Ostrel header cache 2 pop.example.org\tann\r\n", 0);
        row("another login", "Ostrel header cache 2 pop.example.org:995\tAnn\r\n", 0);
        row("the shared cache of old", "Ostrel header cache 1 pop.example.org:995\r\n", 0);
        row("last line cut", kHead + "a\t1\tb\tc", 2);
        row("bad escape", kHead + "a\t1\tb\tc\r\nd\t1\t\\x\tf\r\n", 3);
        row("three fields", kHead + "a\t1\tb\r\n", 2);
        row("no size", kHead + "a\t\tb\tc\r\n", 2);
        row("size with a sign", kHead + "a\t+1\tb\tc\r\n", 2);
        row("id twice", kHead + "a\t1\tb\tc\r\na\t2\tb\tc\r\n", 3);
        row("blank in id", kHead + "a b\t1\tb\tc\r\n", 2);
        row("fold without a blank", kHead + "a\t1\tb\\r\\nx\tc\r\n", 2);
    }
    void a_damaged_or_foreign_file_gives_nothing() {
        QFETCH(QByteArray, content);
        QFETCH(QString, problem);
        QString found;
        QVERIFY(!parse_header_cache(content, kOwner, &found));
        QVERIFY2(found.startsWith(problem), qPrintable(found));
    }

    void capabilities_by_their_first_word() {
        const Capabilities found = parse_capabilities(u"TOP\r\nuidl\r\nPipelining x\r\n.\r\n");
        QVERIFY(found.uidl && found.pipelining &&
                !parse_capabilities(u"X-UIDL\r\n.\r\nUIDL\r\n").uidl);
    }

    // UIDL and LIST listings follow one rule: each message once, "k value".
    void unique_id_listings_data() {
        QTest::addColumn<QString>("listing");
        QTest::addColumn<qint64>("count");
        QTest::addColumn<bool>("usable");
        QTest::newRow("in order") << "1 a1\r\n2 ~z!\r\n.\r\n" << 2ll << true;
        QTest::newRow("out of order") << "2 ~z!\r\n1 a1\r\n.\r\n" << 2ll << true;
        QTest::newRow("empty mailbox") << ".\r\n" << 0ll << true;
        QTest::newRow("fewer than STAT") << "1 a1\r\n.\r\n" << 2ll << false;
        QTest::newRow("number twice") << "1 a1\r\n1 ~z!\r\n.\r\n" << 2ll << false;
        QTest::newRow("leading zero") << "01 a1\r\n2 ~z!\r\n.\r\n" << 2ll << false;
        QTest::newRow("blank in id") << "1 a 1\r\n2 ~z!\r\n.\r\n" << 2ll << false;
        QTest::newRow("no end mark") << "1 a1\r\n2 ~z!\r\n" << 2ll << false;
        QTest::newRow("huge claimed count") << "1 a1\r\n.\r\n" << 2000000000ll << false;
        QTest::newRow("sizes") << "1 0\r\n2 17\r\n.\r\n" << 2ll << true;
        QTest::newRow("size not a number") << "1 3\r\n2 1x\r\n.\r\n" << 2ll << false;
        QTest::newRow("size with a leading zero") << "1 07\r\n2 17\r\n.\r\n" << 2ll << false;
    }
    void unique_id_listings() {
        QFETCH(QString, listing);
        QFETCH(qint64, count);
        QFETCH(bool, usable);
        if (listing.contains(QRegularExpression("^1 \\d"))) {
            const std::optional<QVector<qint64>> sizes({0, 17});
            QVERIFY(parse_message_sizes(listing, count) == (usable ? sizes : std::nullopt));
            return;
        }
        const std::optional<QStringList> ids(count ? QStringList{"a1", "~z!"} : QStringList());
        QVERIFY(parse_unique_ids(listing, count) == (usable ? ids : std::nullopt));
    }
};

QTEST_APPLESS_MAIN(HeaderCacheTest)
#include "header_cache_test.moc"
