#include <QtTest>

#include "core/numeric_value.h"

class NumericValueTest : public QObject {
    Q_OBJECT
private slots:
    // Blanks anywhere are skipped; the number ends at the first other character.
    void reads_the_leading_number() {
        const QList<QPair<QString, double>> cases = {
            {"", 0},           {"Logged", 0},       {"1 0", 10},    {"2e1", 20},
            {"3 4096", 34096}, {"12 messages", 12}, {"\t4\n2", 42}, {"1.5x", 1.5},
            {"-", 0},          {"1e999", 0}};
        for (const auto& [text, value] : cases) {
            QVERIFY2(ostrel::numeric_value(text) == value, qPrintable(text));
        }
    }
};

QTEST_APPLESS_MAIN(NumericValueTest)
#include "numeric_value_test.moc"
