#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

#include "app/form1.h"
#include "core/resources.h"
#include "desktop/window_shape.h"
#include "notify/nota_form.h"
#include "notify/nota_manager.h"
#include "notify/remetentes.h"
#include "support/temp_folder.h"

using namespace ostrel;

namespace {

struct Main {
    testing::TempProgramFolder folder;
    Form1 form{
        folder.path(), folder.file("Ostrel"),
        [](const QString&, const QString&, PromptIcon, PromptButtons) { return PromptAnswer::Ok; }};
};

QList<Remetentes*> open_lists() {
    QList<Remetentes*> found;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* list = qobject_cast<Remetentes*>(w); list != nullptr && list->isVisible()) {
            found << list;
        }
    }
    return found;
}

}  // namespace

class RemetentesTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { init_resources(); }

    void see_senders_twice_opens_two_lists() {
        Main main;
        NotaForm* nota = main.form.notes().new_nota("nota");
        nota->Label3->setText("pop.example.com");
        nota->Label5->setText("\r\nAnn Example \r\nBob \r\n");
        nota->Command1->click();
        nota->Command1->click();
        QList<Remetentes*> lists = open_lists();
        QCOMPARE(lists.size(), 2);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        for (Remetentes* list : lists) {
            QCOMPARE(list->windowTitle(), QString("remete"));
            QCOMPARE(list->Label1->text(), QString("pop.example.com"));
            QCOMPARE(list->Text1->toPlainText().split('\n'),
                     QStringList({"", "Ann Example ", "Bob ", ""}));
            QCOMPARE(list->geometry().center(), screen.center());
            QVERIFY(!list->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
            QCOMPARE(list->mask(), region_from_table(region_table(ShapedWindow::Remetentes)));
        }
        // Closing the notification, then one list, leaves the other list.
        nota->close();
        QTest::mouseClick(lists[0]->findChild<QLabel*>("Picture1"), Qt::LeftButton, {},
                          QPoint(10, 8));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(open_lists(), QList<Remetentes*>{lists[1]});
        QCOMPARE(lists[1]->Text1->toPlainText().split('\n').size(), 4);
    }

    void senders_text_shows_one_sender_a_line_data() {
        QTest::addColumn<QString>("frase");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("three senders")
            << "\r\nAnn \r\nBob \r\nCy " << QStringList{"", "Ann ", "Bob ", "Cy "};
        QTest::newRow("address only gives an empty line")
            << "\r\nAnn \r\n\r\nCy " << QStringList{"", "Ann ", "", "Cy "};
        QTest::newRow("nothing") << "" << QStringList{""};
        QTest::newRow("bare CR") << "\rAnn" << QStringList{"", "Ann"};
    }
    void senders_text_shows_one_sender_a_line() {
        QFETCH(QString, frase);
        QFETCH(QStringList, lines);
        Main main;
        NotaForm* nota = main.form.notes().new_nota("nota");
        Remetentes* list = nota->novaform2("remete", frase, "pop.example.com");
        QVERIFY(list != nullptr);
        QCOMPARE(list->Text1->toPlainText().split('\n'), lines);
        QVERIFY(list->Text1->isReadOnly());
    }
};

QTEST_MAIN(RemetentesTest)
#include "remetentes_test.moc"
