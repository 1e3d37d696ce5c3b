#include <QtTest>

#include "core/numeric_value.h"

using ostrel::numeric_value;

class NumericValueTest : public QObject {
    Q_OBJECT
private slots:
    void reads_the_leading_number_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("word") << "Logged" << 0.0;
        QTest::newRow("blank inside") << "1 0" << 10.0;
        QTest::newRow("exponent") << "2e1" << 20.0;
        QTest::newRow("stat reply tail") << "3 4096" << 34096.0;
        QTest::newRow("count then word") << "12 messages" << 12.0;
        QTest::newRow("tab and line feed skipped") << "\t4\n2" << 42.0;
        QTest::newRow("decimal") << "1.5x" << 1.5;
        QTest::newRow("sign alone") << "-" << 0.0;
        QTest::newRow("huge is not infinite") << "1e999" << 0.0;
    }
    void reads_the_leading_number() {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(numeric_value(text), value);
    }
};

QTEST_APPLESS_MAIN(NumericValueTest)
#include "numeric_value_test.moc"
