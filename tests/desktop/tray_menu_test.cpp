#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include "config/form9.h"
#include "config/general_form.h"
#include "core/event_log.h"
#include "core/resources.h"
#include "desktop/help_page.h"
#include "desktop/menu1.h"
#include "support/scripted_pop3_server.h"
#include "support/startup_fixture.h"

using namespace ostrel;

Q_DECLARE_METATYPE(QSystemTrayIcon::ActivationReason)

namespace {

QByteArray read_all(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A loaded main window whose menu opens no web page and ends no program.
struct Tray : testing::StartupFixture {
    QList<QUrl> opened;
    int ended = 0;

    explicit Tray(Timings timings = Timings()) : StartupFixture(timings) {
        load();
        tray_menu().set_url_opener([this](const QUrl& url) { opened << url; });
        tray_menu().set_program_ender([this] { ++ended; });
    }
    QAction* item(const char* name) {
        return tray_menu().menu()->findChild<QAction*>(QLatin1String(name));
    }
    template <typename Window>
    Window* shown() {
        return form->findChild<Window*>();
    }
};

}  // namespace

class TrayMenuTest : public QObject {
    Q_OBJECT
private slots:
    void items_in_order() {
        Tray tray;
        QStringList items;
        for (QAction* action : tray.tray_menu().menu()->actions()) {
            items << (action->isSeparator() ? QString("-") : action->text()) + "|" +
                         action->objectName();
        }
        QCOMPARE(items, (QStringList{"Pop3 Accounts|pop3", "General Options|general",
                                     "Check Now !|ver_agora", "View Log|ver_log", "-|kkk",
                                     "Help|ajuda", site_caption() + "|site_meu", "Exit|sair"}));
        QCOMPARE(tray.tray().tip(), QString("Ostrel"));
        // The icon carries the menu, so panels that draw their own get it too.
        QCOMPARE(tray.tray().system_icon()->contextMenu(), tray.tray_menu().menu());
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
        emit tray.tray().system_icon()->activated(reason);
        QCOMPARE(tray.tray_menu().shown_count(), shown ? 1 : 0);
        QCOMPARE(tray.tray_menu().menu()->isVisible(), shown);
        tray.tray_menu().menu()->hide();
    }

    // Help's page is the one built into the program, written into the data
    // folder (the tests run no installed copy); the web site item opens it
    // too unless the build names a web page. scripts/desktop-test checks
    // that the desktop's opener gets them.
    void pages_data() {
        QTest::addColumn<QByteArray>("old_page");  // "/": a folder in its place
        QTest::newRow("no page yet") << QByteArray();
        QTest::newRow("an outdated page") << QByteArray("<p>old</p>");
        QTest::newRow("a folder in the way") << QByteArray("/");
    }
    void pages() {
        QFETCH(QByteArray, old_page);
        Tray tray;
        const QString page = tray.folder.file("help.html");
        if (old_page == "/") {
            QDir().mkdir(page);
        } else if (!old_page.isEmpty()) {
            tray.folder.write("help.html", old_page);
        }
        tray.item("ajuda")->trigger();
        tray.item("site_meu")->trigger();
        if (old_page == "/") {
            QCOMPARE(tray.folder.read("logfile.txt").count("help page cannot be shown"), 2);
            QCOMPARE(tray.opened, QList<QUrl>{});
            return;
        }
        const QUrl help = QUrl::fromLocalFile(page);
        const QUrl site = configured_homepage().isEmpty() ? help : configured_homepage();
        QCOMPARE(tray.opened, (QList<QUrl>{help, site}));
        QCOMPARE(tray.folder.read("help.html"), read_all(":/help.html"));
    }

    void exit_takes_the_icon_down_and_ends() {
        Tray tray;
        tray.item("sair")->trigger();
        QCOMPARE(tray.ended, 1);
        QVERIFY(!tray.tray().is_up());
    }

    void windows_are_single_instances() {
        Tray tray;
        tray.item("pop3")->trigger();
        tray.item("general")->trigger();
        Form9* editor = tray.shown<Form9>();
        GeneralForm* options = tray.shown<GeneralForm>();
        QVERIFY(editor && editor->isVisible() && options && options->isVisible());
        tray.item("pop3")->trigger();
        tray.item("general")->trigger();
        QCOMPARE(tray.form->findChildren<Form9*>(), QList<Form9*>{editor});
        QCOMPARE(tray.form->findChildren<GeneralForm*>(), QList<GeneralForm*>{options});
        // Closing destroys the window; the next opening makes a new one.
        editor->Command4->click();
        QTRY_VERIFY(tray.shown<Form9>() == nullptr);
        tray.item("pop3")->trigger();
        QVERIFY(tray.shown<Form9>() != nullptr);
    }

    void view_log_again_does_not_reload() {
        Tray tray;
        tray.folder.write("logfile.txt", "first\r\n");
        tray.item("ver_log")->trigger();
        Menu1* viewer = tray.shown<Menu1>();
        QVERIFY(viewer != nullptr);
        // Checks keep to the main window's schedule: the viewer runs none of its own.
        QVERIFY(viewer->findChildren<QTimer*>().isEmpty());
        tray.log.log_event("written while open");
        tray.item("ver_log")->trigger();
        QCOMPARE(tray.form->findChildren<Menu1*>(), QList<Menu1*>{viewer});
        QCOMPARE(viewer->Text2->toPlainText(), QString("\nfirst"));
        viewer->Command4->click();
        QTRY_VERIFY(tray.shown<Menu1>() == nullptr);
        tray.item("ver_log")->trigger();
        QVERIFY(tray.shown<Menu1>()->Text2->toPlainText().endsWith("written while open"));
    }

    // "Check Now !" runs the check; the blink starts from the normal image and
    // the end of the check shows the normal image again.
    void images_during_a_check_that_ends_normally() {
        Timings timings;
        timings.blink_ms = 100;
        Tray tray(timings);
        testing::ScriptedPop3Server server;  // greets late, so that the check lasts a while
        server.transcript = {testing::ScriptedReply::late("+OK\r\n", 750)};
        server.responder = testing::ScriptedPop3Server::mailbox({});
        tray.folder.write("lumetta_pop.cfg", server.address().toUtf8() + "<>ann<>pw<>\r\n");
        QList<TrayImage> shown;
        connect(&tray.tray(), &TrayIcon::shown, tray.form.get(),
                [&shown](TrayImage image) { shown << image; });
        QSignalSpy finished(tray.form.get(), &Form1::check_finished);
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
