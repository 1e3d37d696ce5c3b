#include <QSignalSpy>
#include <QtTest>

#include "desktop/platform_choice.h"
#include "desktop/popup_placement.h"
#include "desktop/tray_host.h"

using namespace ostrel;

Q_DECLARE_METATYPE(TrayHost)

class DesktopSessionTest : public QObject {
    Q_OBJECT
private slots:
    void platform_follows_the_session_data() {
        for (const char* column : {"chosen", "wayland", "x_display", "type", "platform"}) {
            QTest::addColumn<QByteArray>(column);
        }
        QTest::addColumn<bool>("bypass");
        const struct {
            const char *name, *chosen, *wayland, *x_display, *type, *platform;
            bool bypass;
        } cases[] = {
            {"X11 session", "", "", ":0", "x11", "", false},
            {"Wayland with XWayland", "", "wayland-0", ":0", "wayland", "xcb", true},
            {"Wayland display, no session type", "", "wayland-0", ":1", "", "xcb", true},
            {"Wayland without XWayland", "", "wayland-0", "", "wayland", "", false},
            {"the user's choice is kept", "wayland", "wayland-0", ":0", "wayland", "", false},
        };
        for (const auto& c : cases) {
            QTest::newRow(c.name) << QByteArray(c.chosen) << QByteArray(c.wayland)
                                  << QByteArray(c.x_display) << QByteArray(c.type)
                                  << QByteArray(c.platform) << c.bypass;
        }
    }
    void platform_follows_the_session() {
        QFETCH(QByteArray, chosen);
        QFETCH(QByteArray, wayland);
        QFETCH(QByteArray, x_display);
        QFETCH(QByteArray, type);
        QFETCH(QByteArray, platform);
        QFETCH(bool, bypass);
        const Session session{chosen, wayland, x_display, type};
        QCOMPARE(preferred_platform(session), platform);
        const QByteArray runs_on = !platform.isEmpty()   ? platform
                                   : !chosen.isEmpty()   ? chosen
                                   : x_display.isEmpty() ? QByteArray("wayland")
                                                         : QByteArray("xcb");
        QCOMPARE(popups_bypass_window_manager(session, QString::fromLatin1(runs_on)), bypass);

        char program[] = "Ostrel";
        char* argv[] = {program, nullptr};
        PlatformArguments arguments(1, argv, platform);
        QStringList given;
        for (int i = 0; i < arguments.argc(); ++i) {
            given << QString::fromLatin1(arguments.argv()[i]);
        }
        const QStringList expected =
            platform.isEmpty() ? QStringList{"Ostrel"} : QStringList{"Ostrel", "-platform", "xcb"};
        QCOMPARE(given, expected);
        QCOMPARE(arguments.argv()[arguments.argc()], nullptr);
    }

    void popups_use_the_available_area_data() {
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QRect>("area");
        const QRect screen(0, 0, 1280, 800);
        QTest::newRow("no panel") << screen << screen << screen;
        QTest::newRow("bottom panel") << screen << QRect(0, 0, 1280, 767) << QRect(0, 0, 1280, 767);
        QTest::newRow("second screen, panel at its bottom")
            << QRect(1280, 0, 1920, 1080) << QRect(1280, 0, 1920, 1040)
            << QRect(1280, 0, 1920, 1040);
        QTest::newRow("none reported") << screen << QRect() << screen;
        QTest::newRow("reported outside the screen") << screen << QRect(0, 0, 2560, 800) << screen;
    }
    void popups_use_the_available_area() {
        QFETCH(QRect, screen);
        QFETCH(QRect, available);
        QFETCH(QRect, area);
        QCOMPARE(popup_area(screen, available), area);
    }

    // Each row is what successive looks find; the watch must settle on
    // `host`, and say "missing" only when nothing came for a while.
    void watch_settles_on_a_host_data() {
        QTest::addColumn<QList<TrayHost>>("looks");
        QTest::addColumn<TrayHost>("host");
        QTest::addColumn<bool>("missing");
        using H = TrayHost;
        QTest::newRow("platform's own") << QList<H>{H::Platform} << H::Platform << false;
        QTest::newRow("panel already up")
            << QList<H>{H::StatusNotifier} << H::StatusNotifier << false;
        QTest::newRow("XEmbed alone, after settling") << QList<H>{H::XEmbed} << H::XEmbed << false;
        QTest::newRow("XEmbed first, then the panel's host")
            << QList<H>{H::XEmbed, H::XEmbed, H::StatusNotifier} << H::StatusNotifier << false;
        QTest::newRow("nothing for a while, then a panel")
            << QList<H>{H::None, H::None, H::None, H::None, H::None,          H::None,
                        H::None, H::None, H::None, H::None, H::StatusNotifier}
            << H::StatusNotifier << true;
    }
    void watch_settles_on_a_host() {
        QFETCH(QList<TrayHost>, looks);
        QFETCH(TrayHost, host);
        QFETCH(bool, missing);
        int next = 0;
        QElapsedTimer clock;
        QList<qint64> looked_at;
        TrayHostTiming timing;
        timing.recheck_ms = 10;
        timing.settle_ms = 35;
        timing.missing_after_ms = 60;
        TrayHostWatch watch(
            nullptr,
            [&] {
                looked_at << clock.elapsed();
                return looks[qMin(next++, int(looks.size()) - 1)];
            },
            timing);
        QSignalSpy ready(&watch, &TrayHostWatch::ready);
        QSignalSpy missed(&watch, &TrayHostWatch::missing);
        clock.start();
        watch.start();
        QTRY_COMPARE(ready.size(), 1);
        QCOMPARE(ready.at(0).at(0).value<TrayHost>(), host);
        QCOMPARE(missed.size(), missing ? 1 : 0);
        if (host == TrayHost::XEmbed) {
            QVERIFY2(looked_at.last() >= timing.settle_ms,
                     qPrintable(QString::number(looked_at.last())));
        }
        const int looks_made = int(looked_at.size());
        QTest::qWait(40);
        QCOMPARE(looked_at.size(), looks_made);  // no looking once settled
    }
};

QTEST_MAIN(DesktopSessionTest)
#include "desktop_session_test.moc"
