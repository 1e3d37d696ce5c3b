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

    // Each row is what successive looks find and when the desktop says
    // something changed. The watch looks at its start, at those moments and
    // when its two waits end, never otherwise; it must settle on `host`
    // (None: on nothing) and say "missing" only when nothing came in time.
    void watch_looks_only_when_woken_data() {
        QTest::addColumn<QList<TrayHost>>("looks");
        QTest::addColumn<QList<int>>("changes_at");
        QTest::addColumn<TrayHost>("host");
        QTest::addColumn<bool>("missing");
        QTest::addColumn<int>("looks_made");
        using H = TrayHost;
        QTest::newRow("platform's own")
            << QList<H>{H::Platform} << QList<int>{} << H::Platform << false << 1;
        QTest::newRow("panel already up")
            << QList<H>{H::StatusNotifier} << QList<int>{} << H::StatusNotifier << false << 1;
        QTest::newRow("XEmbed alone, after settling")
            << QList<H>{H::XEmbed} << QList<int>{} << H::XEmbed << false << 2;
        QTest::newRow("XEmbed first, then the panel's host")
            << QList<H>{H::XEmbed, H::StatusNotifier} << QList<int>{10} << H::StatusNotifier
            << false << 2;
        QTest::newRow("XEmbed gone before it settled")
            << QList<H>{H::XEmbed, H::None} << QList<int>{10} << H::None << true << 3;
        QTest::newRow("nothing, then a panel after the notice")
            << QList<H>{H::None, H::None, H::StatusNotifier} << QList<int>{90} << H::StatusNotifier
            << true << 3;
        QTest::newRow("nothing at all")
            << QList<H>{H::None} << QList<int>{} << H::None << true << 2;
    }
    void watch_looks_only_when_woken() {
        QFETCH(QList<TrayHost>, looks);
        QFETCH(QList<int>, changes_at);
        QFETCH(TrayHost, host);
        QFETCH(bool, missing);
        QFETCH(int, looks_made);
        int next = 0;
        QElapsedTimer clock;
        qint64 last_look = 0;
        TrayHostTiming timing;
        timing.settle_ms = 35;
        timing.missing_after_ms = 60;
        TrayHostWatch watch(
            nullptr,
            [&] {
                last_look = clock.elapsed();
                return looks[qMin(next++, int(looks.size()) - 1)];
            },
            timing);
        QSignalSpy ready(&watch, &TrayHostWatch::ready);
        QSignalSpy missed(&watch, &TrayHostWatch::missing);
        clock.start();
        watch.start();
        for (int at : changes_at) {
            QTest::qWait(int(at - clock.elapsed()));
            watch.look_again();
        }
        QTest::qWait(int(200 - clock.elapsed()));
        QCOMPARE(next, looks_made);
        QCOMPARE(missed.size(), missing ? 1 : 0);
        QCOMPARE(ready.size(), host == TrayHost::None ? 0 : 1);
        if (host != TrayHost::None) {
            QCOMPARE(ready.at(0).at(0).value<TrayHost>(), host);
        }
        if (host == TrayHost::XEmbed) {
            QVERIFY2(last_look >= timing.settle_ms, qPrintable(QString::number(last_look)));
        }
    }
};

QTEST_MAIN(DesktopSessionTest)
#include "desktop_session_test.moc"
