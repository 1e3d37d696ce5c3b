#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

#include "app/form1.h"
#include "core/resources.h"
#include "desktop/log_text.h"
#include "desktop/menu1.h"
#include "support/temp_folder.h"

using namespace ostrel;

namespace {

struct Viewer {
    testing::TempProgramFolder folder;
    QStringList texts;
    Form1 form{folder.path(), folder.file("Ostrel"),
               [this](const QString& text, const QString&, PromptIcon, PromptButtons) {
                   texts << text;
                   return PromptAnswer::Ok;
               }};
    Menu1* window = nullptr;

    explicit Viewer(const QByteArray* log) {
        if (log != nullptr) {
            folder.write("logfile.txt", *log);
        }
        window = new Menu1(form.context(), {}, &form);
        window->load();
    }
    QStringList shown_lines() const {
        QStringList lines;
        for (QTextBlock b = window->Text2->document()->begin(); b.isValid(); b = b.next()) {
            lines << b.text();
        }
        return lines;
    }
};

}  // namespace

class Menu1Test : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { init_resources(); }

    void text_for_a_log_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("text");
        QTest::newRow("three lines show four")
            << QByteArray("one\r\ntwo\r\nthree\r\n") << "\r\none\r\ntwo\r\nthree";
        QTest::newRow("empty log") << QByteArray() << "";
        QTest::newRow("CR alone, last line unended") << QByteArray("one\rtwo") << "\r\none\r\ntwo";
        QTest::newRow("blank line kept")
            << QByteArray("one\r\n\r\ntwo\r\n") << "\r\none\r\n\r\ntwo";
        QTest::newRow("UTF-8 text") << QString("Can´t connect to Pop3 pop.a\r\n").toUtf8()
                                    << QString("\r\nCan´t connect to Pop3 pop.a");
    }
    void text_for_a_log() {
        QFETCH(QByteArray, content);
        QFETCH(QString, text);
        QCOMPARE(log_viewer_text(content), text);
    }

    void loading_shows_the_log_from_the_top() {
        const QByteArray log("first\r\nsecond\r\nthird\r\n");
        Viewer viewer(&log);
        QCOMPARE(viewer.shown_lines(), (QStringList{"", "first", "second", "third"}));
        QCOMPARE(viewer.window->Text2->textCursor().position(), 0);
    }

    void a_missing_log_opens_empty() {
        Viewer viewer(nullptr);
        QVERIFY(viewer.window->Text2->toPlainText().isEmpty());
        QVERIFY(viewer.texts.isEmpty());
    }

    void clear_log_leaves_one_created_line() {
        QByteArray log;
        for (int i = 0; i < 500; ++i) {
            log += "01/02/24 10:00:00 - Can't connect to Pop3 pop.a\r\n";
        }
        Viewer viewer(&log);
        viewer.window->Command1->click();
        const QByteArray now = viewer.folder.read("logfile.txt");
        QVERIFY2(QRegularExpression("^[^\\r\\n]+ File created!\\r\\n$")
                     .match(QString::fromUtf8(now))
                     .hasMatch(),
                 now.constData());
        QVERIFY(!now.contains(" - "));
        const QString line = QString::fromUtf8(now).trimmed();
        QCOMPARE(viewer.shown_lines(), (QStringList{"", line}));
        QVERIFY(viewer.texts.isEmpty());
    }

    // Long lines wrap; Clear Log leaves the focus where it can be seen, not on
    // a button outside the window's shape.
    void long_lines_wrap_and_the_focus_stays_in_sight() {
        const QByteArray log = "01/02/24 10:00:00 - " + QByteArray("Can't connect ").repeated(30);
        Viewer viewer(&log);
        viewer.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(viewer.window));
        QCOMPARE(viewer.window->Text2->horizontalScrollBar()->maximum(), 0);
        viewer.window->Command1->click();
        const QWidget* focus = viewer.window->focusWidget();
        QVERIFY(focus != nullptr);
        QVERIFY(viewer.window->mask().contains(focus->geometry().center()));
    }

    void clear_log_that_cannot_be_written_keeps_everything() {
        const QByteArray log("first\r\nsecond\r\n");
        Viewer viewer(&log);
        // Something that is not a file now stands where the log was.
        QVERIFY(QFile::remove(viewer.folder.file("logfile.txt")));
        QVERIFY(QDir(viewer.folder.path()).mkdir("logfile.txt"));
        viewer.window->clear_log();
        QCOMPARE(viewer.texts.size(), 1);
        QVERIFY(viewer.texts[0].contains("could not be cleared"));
        QVERIFY(QFileInfo(viewer.folder.file("logfile.txt")).isDir());
        QCOMPARE(viewer.shown_lines(), (QStringList{"", "first", "second"}));
    }

    void exit_closes_the_viewer() {
        Viewer viewer(nullptr);
        viewer.window->show();
        viewer.window->Command4->click();
        QVERIFY(!viewer.window->isVisible());
    }
};

QTEST_MAIN(Menu1Test)
#include "menu1_test.moc"
