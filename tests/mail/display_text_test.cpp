// What the user reads of header values, over a corpus of real header shapes
// (display_text_cases.txt beside this file).
#include <QtTest>

#include "mail/display_text.h"

using namespace ostrel;

namespace {

// The bytes a raw line of the corpus stands for.
QByteArray unescaped(const QByteArray& line) {
    QByteArray bytes;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] != '\\' || i + 1 == line.size()) {
            bytes += line[i];
            continue;
        }
        const char code = line[++i];
        if (code == 'x') {
            bytes += char(line.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        } else {
            const qsizetype k = QByteArray("rnt0").indexOf(code);
            bytes += k < 0 ? code : QByteArray("\r\n\t\0", 4)[k];
        }
    }
    return bytes;
}

}  // namespace

class DisplayTextTest : public QObject {
    Q_OBJECT
private slots:
    void corpus_data() {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        QFile file(QStringLiteral(OSTREL_SOURCE_DIR "/tests/mail/display_text_cases.txt"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray title;
        QMap<QByteArray, QByteArray> fields;
        const auto add_case = [&] {
            if (!title.isEmpty()) {
                QTest::newRow(title.constData())
                    << unescaped(fields.value("raw")) << QString::fromUtf8(fields.value("text"))
                    << QString::fromUtf8(fields.value("name"));
            }
            fields.clear();
        };
        for (const QByteArray& line : file.readAll().split('\n')) {
            const qsizetype colon = line.indexOf(':');
            if (line.startsWith('#') || colon < 0) {
                continue;
            }
            const QByteArray key = line.left(colon);
            if (key == "case") {
                add_case();
                title = line.mid(colon + 1).trimmed();
            }
            fields[key] = line.mid(colon + 1).trimmed();
        }
        add_case();
    }
    void corpus() {
        QFETCH(QByteArray, raw);
        QFETCH(QString, text);
        QFETCH(QString, name);
        QCOMPARE(display_text(raw), text);
        if (!name.isEmpty()) {
            QCOMPARE(sender_name(raw), name);
        }
    }

    void long_runs_decode_whole() {
        const int words = 100 * 1024 / 17;
        QCOMPARE(display_text(QByteArray("=?UTF-8?B?w6k=?= ").repeated(words)),
                 QString(words, QChar(0xe9)));
        const QByteArray broken = QByteArray("=?UTF-8?B?w6k?=?Q?=\0 ", 21).repeated(words);
        QVERIFY(display_text(broken).size() >= words);
        QVERIFY(!sender_name(broken + "<a@b>").isEmpty());
    }
};

QTEST_APPLESS_MAIN(DisplayTextTest)
#include "display_text_test.moc"
