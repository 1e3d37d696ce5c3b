#include <QtTest>

#include "config/general_settings.h"
#include "support/temp_folder.h"

using namespace ostrel;

class GeneralSettingsTest : public QObject {
    Q_OBJECT
private slots:
    void splits_delimited_fields_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("defaults") << "10\r\n1\r\n" << QStringList{"10", "1"};
        QTest::newRow("comma splits line one") << "1,5\r\n1\r\n" << QStringList{"1", "5", "1"};
        QTest::newRow("empty first line") << "\r\n1\r\n" << QStringList{"", "1"};
        QTest::newRow("blanks trimmed") << " 7 \r\n 0\r\n" << QStringList{"7", "0"};
        QTest::newRow("quotes stripped") << "\"15\"\r\n\"1\"\r\n" << QStringList{"15", "1"};
        QTest::newRow("quoted comma kept") << "\"1,5\"\r\n0" << QStringList{"1,5", "0"};
        QTest::newRow("CR alone and no last end") << "3\r0" << QStringList{"3", "0"};
        QTest::newRow("one line") << "10\r\n" << QStringList{"10"};
        QTest::newRow("nothing") << "" << QStringList{};
    }
    void splits_delimited_fields() {
        QFETCH(QString, text);
        QFETCH(QStringList, fields);
        QCOMPARE(read_delimited_fields(text), fields);
    }

    void reading_a_short_file_fails_but_keeps_what_it_found() {
        testing::TempProgramFolder folder;
        folder.write("general.cfg", "10\r\n");
        const SettingsRead read = read_general_settings(folder.file("general.cfg"));
        QVERIFY(!read.ok());
        QCOMPARE(read.fields, QStringList{"10"});
        QVERIFY(!read_general_settings(folder.file("missing.cfg")).ok());
    }
};

QTEST_APPLESS_MAIN(GeneralSettingsTest)
#include "general_settings_test.moc"
