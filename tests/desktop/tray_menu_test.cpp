#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include "app/form1.h"
#include "config/form9.h"
#include "config/general_form.h"
#include "core/resources.h"
#include "desktop/menu1.h"
#include "desktop/tray_menu.h"
#include "support/scripted_pop3_server.h"
#include "support/temp_folder.h"

using namespace ostrel;

Q_DECLARE_METATYPE(QSystemTrayIcon::ActivationReason)

namespace {

struct Tray {
    testing::TempProgramFolder folder;
    Form1 form;
    QList<QUrl> opened;
    int ended = 0;

    explicit Tray(Timings timings = Timings())
        : form(
              folder.path(), folder.file("Ostrel"),
              [](const QString&, const QString&, PromptIcon, PromptButtons) {
                  return PromptAnswer::Ok;
              },
              timings) {
        form.tray_menu().set_url_opener([this](const QUrl& url) { opened << url; });
        form.tray_menu().set_program_ender([this] { ++ended; });
        form.refresh_tray_icon();
    }
    QAction* item(const char* name) {
        return form.tray_menu().menu()->findChild<QAction*>(QLatin1String(name));
    }
};

}  // namespace

class TrayMenuTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { init_resources(); }

    void items_in_order() {
        Tray tray;
        QStringList items;
        for (QAction* action : tray.form.tray_menu().menu()->actions()) {
            items << (action->isSeparator() ? QString("-") : action->text()) + "|" +
                         action->objectName();
        }
        QCOMPARE(items, (QStringList{"Pop3 Accounts|pop3", "General Options|general",
                                     "Check Now !|ver_agora", "View Log|ver_log", "-|kkk",
                                     "Help|ajuda", QString(kSiteHost) + "|site_meu", "Exit|sair"}));
        QCOMPARE(tray.form.tray().tip(), QString("Ostrel"));
        // The icon carries the menu, so panels that draw their own get it too.
        QCOMPARE(tray.form.tray().system_icon()->contextMenu(), tray.form.tray_menu().menu());
    }

    void menu_only_on_a_press_data() {
        QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
        QTest::addColumn<bool>("shown");
        QTest::newRow("left press") << QSystemTrayIcon::Trigger << true;
        QTest::newRow("right press") << QSystemTrayIcon::Context << true;
        QTest::newRow("double click") << QSystemTrayIcon::DoubleClick << false;
    }
    void menu_only_on_a_press() {
        QFETCH(QSystemTrayIcon::ActivationReason, reason);
        QFETCH(bool, shown);
        Tray tray;
        emit tray.form.tray().system_icon()->activated(reason);
        QCOMPARE(tray.form.tray_menu().shown_count(), shown ? 1 : 0);
        QCOMPARE(tray.form.tray_menu().menu()->isVisible(), shown);
        tray.form.tray_menu().menu()->hide();
    }

    void web_pages_and_exit_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("url");
        QTest::newRow("help") << "ajuda" << QString("http://%1/page.php?27").arg(kSiteHost);
        QTest::newRow("site") << "site_meu" << QString("http://%1").arg(kSiteHost);
        QTest::newRow("exit takes the icon down and ends") << "sair" << QString();
    }
    void web_pages_and_exit() {
        QFETCH(QString, item);
        QFETCH(QString, url);
        Tray tray;
        tray.item(qPrintable(item))->trigger();
        QCOMPARE(tray.opened, url.isEmpty() ? QList<QUrl>{} : QList<QUrl>{QUrl(url)});
        QCOMPARE(tray.ended, url.isEmpty() ? 1 : 0);
        QCOMPARE(tray.form.tray().is_up(), !url.isEmpty());
    }

    void windows_are_single_instances() {
        Tray tray;
        tray.item("pop3")->trigger();
        tray.item("general")->trigger();
        Form9* editor = tray.form.accounts_editor();
        GeneralForm* options = tray.form.general_options();
        QVERIFY(editor && editor->isVisible() && options && options->isVisible());
        tray.item("pop3")->trigger();
        tray.item("general")->trigger();
        QCOMPARE(tray.form.accounts_editor(), editor);
        QCOMPARE(tray.form.general_options(), options);
        // Closing destroys the window; the next opening makes a new one.
        editor->Command4->click();
        QTRY_VERIFY(tray.form.accounts_editor() == nullptr);
        tray.item("pop3")->trigger();
        QVERIFY(tray.form.accounts_editor() != nullptr);
    }

    void view_log_again_does_not_reload() {
        Tray tray;
        tray.folder.write("logfile.txt", "first\r\n");
        tray.item("ver_log")->trigger();
        Menu1* viewer = tray.form.log_viewer();
        QVERIFY(viewer != nullptr);
        // Checks keep to the main window's schedule: the viewer runs none of its own.
        QVERIFY(viewer->findChildren<QTimer*>().isEmpty());
        tray.form.log_event("written while open");
        tray.item("ver_log")->trigger();
        QCOMPARE(tray.form.log_viewer(), viewer);
        QCOMPARE(viewer->Text2->toPlainText(), QString("\nfirst"));
        viewer->Command4->click();
        QTRY_VERIFY(tray.form.log_viewer() == nullptr);
        tray.item("ver_log")->trigger();
        QVERIFY(tray.form.log_viewer()->Text2->toPlainText().endsWith("written while open"));
    }

    // "Check Now !" runs the check; the blink starts from the normal image and
    // the end of the check shows the normal image again.
    void images_during_a_check_that_ends_normally() {
        Timings timings;
        timings.blink_ms = 100;
        Tray tray(timings);
        testing::ScriptedPop3Server server;  // greets late, so that the check lasts a while
        server.queue << testing::ScriptedReply::late("+OK\r\n", 750);
        server.responder = testing::ScriptedPop3Server::mailbox({});
        tray.folder.write("lumetta_pop.cfg", server.address().toUtf8() + "<>ann<>pw<>\r\n");
        QList<TrayImage> shown;
        connect(&tray.form.tray(), &TrayIcon::shown, &tray.form,
                [&shown](TrayImage image) { shown << image; });
        QSignalSpy finished(&tray.form, &Form1::check_finished);
        tray.item("ver_agora")->trigger();
        QCOMPARE(finished.size(), 1);
        QVERIFY2(!tray.folder.read("logfile.txt").contains("connect"),
                 tray.folder.read("logfile.txt").constData());
        QVERIFY2(shown.size() >= 4, qPrintable(QString::number(shown.size())));
        for (int i = 0; i + 1 < shown.size(); ++i) {
            QCOMPARE(shown[i], i % 2 == 0 ? TrayImage::Normal : TrayImage::Alternate);
        }
        QCOMPARE(shown.last(), TrayImage::Normal);
    }
};

QTEST_MAIN(TrayMenuTest)
#include "tray_menu_test.moc"
