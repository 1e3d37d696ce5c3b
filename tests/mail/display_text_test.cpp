// What the user reads of header values, over display_text_cases.txt beside this file.
#include <QtTest>

#include "mail/display_text.h"

using namespace ostrel;

namespace {

// The bytes a raw line of the corpus stands for.
QByteArray unescaped(const QByteArray& line) {
    QByteArray bytes;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char next = i + 1 < line.size() ? line[i + 1] : '?';
        const qsizetype code = QByteArray("rnt0\\").indexOf(next);
        if (line[i] == '\\' && next == 'x') {
            bytes += char(line.mid(i + 2, 2).toInt(nullptr, 16));
            i += 3;
        } else if (line[i] == '\\' && code >= 0) {
            bytes += QByteArray("\r\n\t\0\\", 5)[code];
            ++i;
        } else {
            bytes += line[i];
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
        const QStringList cases = QString::fromUtf8(file.readAll()).split("\ncase:");
        for (const QString& lines : cases.mid(1)) {
            QMap<QString, QString> field;
            for (const QString& line : lines.split('\n')) {
                field[line.section(':', 0, 0)] = line.section(':', 1).trimmed();
            }
            QTest::newRow(qPrintable(lines.section('\n', 0, 0).trimmed()))
                << unescaped(field["raw"].toUtf8()) << field["text"] << field["name"];
        }
        QCOMPARE(cases.size(), 77);
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
