#include <QtTest>
#include <QtWidgets>

#include "config/form9.h"
#include "config/general_form.h"
#include "desktop/help_page.h"
#include "desktop/menu1.h"
#include "support/scripted_pop3_server.h"
#include "support/startup_fixture.h"

using namespace ostrel;

namespace {

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
    QList<Window*> shown() {
        return form->findChildren<Window*>();
    }
};

}  // namespace

class TrayMenuTest : public QObject {
    Q_OBJECT
private slots:
    // The icon carries the menu (for panels that draw their own); a left or right
    // press opens it, nothing else does. Exit takes the icon down and ends.
    void items_presses_windows_and_exit() {
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
        QCOMPARE(tray.tray().system_icon()->contextMenu(), tray.tray_menu().menu());
        int shown = 0;
        for (const auto reason :
             {QSystemTrayIcon::Trigger, QSystemTrayIcon::Context, QSystemTrayIcon::DoubleClick}) {
            emit tray.tray().system_icon()->activated(reason);
            shown += reason == QSystemTrayIcon::DoubleClick ? 0 : 1;
            QCOMPARE(tray.tray_menu().shown_count(), shown);
            QCOMPARE(tray.tray_menu().menu()->isVisible(), reason != QSystemTrayIcon::DoubleClick);
            tray.tray_menu().menu()->hide();
        }
        // Opening again only brings a window forward (the log as it was); closing
        // destroys it, the next opening makes a new one. The viewer runs no checks.
        tray.folder.write("logfile.txt", "first\r\n");
        for (int i = 0; i < 2; ++i) {
            for (const char* item : {"pop3", "general", "ver_log"}) {
                tray.item(item)->trigger();
            }
            tray.log.log_event("written while open");
        }
        QCOMPARE(tray.shown<Form9>().size() + tray.shown<GeneralForm>().size(), 2);
        QCOMPARE(tray.shown<Menu1>().size(), 1);
        Menu1* viewer = tray.shown<Menu1>()[0];
        QVERIFY(viewer->isVisible() && tray.shown<Form9>()[0]->isVisible() &&
                tray.shown<GeneralForm>()[0]->isVisible());
        QVERIFY(viewer->findChildren<QTimer*>().isEmpty());
        QCOMPARE(viewer->Text2->toPlainText(), QString("\nfirst"));
        tray.shown<Form9>()[0]->Command4->click();
        viewer->Command4->click();
        QTRY_VERIFY(tray.shown<Form9>().isEmpty() && tray.shown<Menu1>().isEmpty());
        tray.item("pop3")->trigger();
        tray.item("ver_log")->trigger();
        QCOMPARE(tray.shown<Form9>().size(), 1);
        QVERIFY(tray.shown<Menu1>()[0]->Text2->toPlainText().endsWith("written while open"));
        tray.item("sair")->trigger();
        QVERIFY(tray.ended == 1 && !tray.tray().is_up());
    }

    // Help writes the built-in page into the data folder and opens it; so does the
    // site item unless the build names a web page (scripts/desktop-test: the opener).
    void pages_data() {
        QTest::addColumn<QByteArray>("old_page");  // "/": a folder in its place
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
            QVERIFY(tray.log_text().count("help page cannot be shown") == 2 &&
                    tray.opened.isEmpty());
            return;
        }
        const QUrl help = QUrl::fromLocalFile(page);
        const QUrl site = configured_homepage().isEmpty() ? help : configured_homepage();
        QCOMPARE(tray.opened, (QList<QUrl>{help, site}));
        QFile built_in(":/help.html");
        QVERIFY(built_in.open(QIODevice::ReadOnly));
        QCOMPARE(tray.folder.read("help.html"), built_in.readAll());
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
        QVERIFY2(!tray.log_text().contains("connect"), qPrintable(tray.log_text()));
        QVERIFY2(shown.size() >= 4, qPrintable(QString::number(shown.size())));
        for (int i = 0; i + 1 < shown.size(); ++i) {
            QCOMPARE(shown[i], i % 2 == 0 ? TrayImage::Normal : TrayImage::Alternate);
        }
        QCOMPARE(shown.last(), TrayImage::Normal);
    }
};

QTEST_MAIN(TrayMenuTest)
#include "tray_menu_test.moc"
