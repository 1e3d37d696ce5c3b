#include <QtTest>

#include "pop3/capabilities.h"
#include "pop3/header_cache.h"
#include "pop3/unique_ids.h"
#include "support/temp_folder.h"

using namespace ostrel;

namespace {

const QString kServer = QStringLiteral("pop.example.org:995");
const QByteArray kHead = "Ostrel header cache 1 pop.example.org:995\r\n";

}  // namespace

class HeaderCacheTest : public QObject {
    Q_OBJECT
private slots:
    void written_and_read_back_alike() {
        const QList<CachedHeader> messages = {
            {"0000002a4e1f", {QString::fromLatin1("caf\xe9 \\ x\ty"), "=?UTF-8?Q?a?=\r\n\tb"}},
            {"~!", {QString(), QStringLiteral("\r\n folded from the start")}}};
        testing::TempProgramFolder folder;
        const QString path = folder.file(header_cache_file_name(kServer));
        QString problem;
        QVERIFY(load_header_cache(path, kServer, &problem).isEmpty());
        const QByteArray content = header_cache_content(kServer, messages);
        QCOMPARE(content, kHead +
                              "0000002a4e1f\tcaf\xe9 \\\\ x\\ty\t=?UTF-8?Q?a?=\\r\\n\\tb\r\n"
                              "~!\t\t\\r\\n folded from the start\r\n");
        QCOMPARE(write_header_cache(path, content), QString());
        const auto cache = load_header_cache(path, kServer, &problem);
        QCOMPARE(problem, QString());
        QCOMPARE(cache.size(), 2);
        QCOMPARE(cache.value("0000002a4e1f").from, messages[0].fields.from);
        QCOMPARE(cache.value("~!").subject, messages[1].fields.subject);
        QVERIFY(!write_header_cache(folder.path(), "x").isEmpty());
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
        row("another server", "Ostrel header cache 1 pop.example.org\r\n", 0);
        row("last line cut", kHead + "a\tb\tc", 2);
        row("bad escape", kHead + "a\tb\tc\r\nd\t\\x\tf\r\n", 3);
        row("two fields", kHead + "a\tb\r\n", 2);
        row("id twice", kHead + "a\tb\tc\r\na\tb\tc\r\n", 3);
        row("blank in id", kHead + "a b\tb\tc\r\n", 2);
        row("fold without a blank", kHead + "a\tb\\r\\nx\tc\r\n", 2);
    }
    void a_damaged_or_foreign_file_gives_nothing() {
        QFETCH(QByteArray, content);
        QFETCH(QString, problem);
        QString found;
        QVERIFY(!parse_header_cache(content, kServer, &found));
        QVERIFY2(found.startsWith(problem), qPrintable(found));
    }

    void capabilities_by_their_first_word() {
        const Capabilities found = parse_capabilities(u"TOP\r\nuidl\r\nPipelining x\r\n.\r\n");
        QVERIFY(found.uidl && found.pipelining);
        QVERIFY(!parse_capabilities(u"X-UIDL\r\n.\r\nUIDL\r\n").uidl);
    }

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
    }
    void unique_id_listings() {
        QFETCH(QString, listing);
        QFETCH(qint64, count);
        QFETCH(bool, usable);
        const auto ids = parse_unique_ids(listing, count);
        QCOMPARE(bool(ids), usable);
        QCOMPARE(ids.value_or(QStringList()),
                 usable && count ? QStringList({"a1", "~z!"}) : QStringList());
    }
};

QTEST_APPLESS_MAIN(HeaderCacheTest)
#include "header_cache_test.moc"
