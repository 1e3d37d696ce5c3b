#include <QtTest>

#include "desktop/platform_choice.h"
#include "desktop/popup_placement.h"
#include "desktop/tray_host.h"
#include "support/rows.h"

using namespace ostrel;

Q_DECLARE_METATYPE(TrayHost)

namespace {

// The session's variables and what the program makes of them.
struct SessionCase {
    const char *name, *chosen, *wayland, *x_display, *type, *platform;
    bool bypass;
};
const SessionCase kSessions[] = {
    {"X11 session", "", "", ":0", "x11", "", false},
    {"Wayland with XWayland", "", "wayland-0", ":0", "wayland", "xcb", true},
    {"Wayland display, no session type", "", "wayland-0", ":1", "", "xcb", true},
    {"Wayland without XWayland", "", "wayland-0", "", "wayland", "", false},
    {"the user's choice is kept", "wayland", "wayland-0", ":0", "wayland", "", false},
};

// What successive looks find and when (ms) the desktop tells of a change. The
// watch looks only at its start, those moments and its two waits' ends; it
// settles on `host` and says "missing" only when nothing came in time.
using H = TrayHost;
constexpr H kPanel = H::StatusNotifier;
struct WatchCase {
    const char* name;
    QList<TrayHost> looks;
    QList<int> changes_at;
    TrayHost host;
    bool missing;
    int looks_made;
};
const WatchCase kWatches[] = {
    {"platform's own", {H::Platform}, {}, H::Platform, false, 1},
    {"panel already up", {kPanel}, {}, kPanel, false, 1},
    {"XEmbed alone, after settling", {H::XEmbed}, {}, H::XEmbed, false, 2},
    {"XEmbed first, then the panel's host", {H::XEmbed, kPanel}, {10}, kPanel, false, 2},
    {"XEmbed gone before it settled", {H::XEmbed, H::None}, {10}, H::None, true, 3},
    {"nothing, then a panel after the notice", {H::None, H::None, kPanel}, {90}, kPanel, true, 3},
    {"nothing at all", {H::None}, {}, H::None, true, 2},
};

}  // namespace

class DesktopSessionTest : public QObject {
    Q_OBJECT
private slots:
    void platform_follows_the_session_data() { testing::add_rows(kSessions); }
    void platform_follows_the_session() {
        QFETCH(SessionCase, row);
        const Session session{row.chosen, row.wayland, row.x_display, row.type};
        const QByteArray platform = row.platform;
        QCOMPARE(preferred_platform(session), platform);
        const QByteArray runs_on = !platform.isEmpty() ? platform
                                   : *row.chosen       ? QByteArray(row.chosen)
                                   : *row.x_display    ? QByteArray("xcb")
                                                       : QByteArray("wayland");
        QCOMPARE(popups_bypass_window_manager(session, QString::fromLatin1(runs_on)), row.bypass);

        char program[] = "Ostrel";
        char* argv[] = {program, nullptr};
        PlatformArguments arguments(1, argv, platform);
        QStringList given;
        for (int i = 0; i <= arguments.argc(); ++i) {
            given << QString::fromLatin1(arguments.argv()[i]);
        }
        QCOMPARE(given, (platform.isEmpty() ? QStringList{"Ostrel", ""}
                                            : QStringList{"Ostrel", "-platform", "xcb", ""}));
    }

    // A panel's share of the screen is left free, whatever the screen reports.
    void popups_use_the_available_area() {
        const QRect screen(0, 0, 1280, 800), second(1280, 0, 1920, 1080);
        QCOMPARE(popup_area(screen, screen), screen);
        QCOMPARE(popup_area(screen, QRect(0, 0, 1280, 767)), QRect(0, 0, 1280, 767));
        QCOMPARE(popup_area(second, QRect(1280, 0, 1920, 1040)), QRect(1280, 0, 1920, 1040));
        QCOMPARE(popup_area(screen, QRect()), screen);
        QCOMPARE(popup_area(screen, QRect(0, 0, 2560, 800)), screen);
    }

    void watch_looks_only_when_woken_data() { testing::add_rows(kWatches); }
    void watch_looks_only_when_woken() {
        QFETCH(WatchCase, row);
        int next = 0;
        QElapsedTimer clock;
        qint64 last_look = 0;
        TrayHostWatch watch(nullptr,
                            [&] {
                                last_look = clock.elapsed();
                                return row.looks[qMin(next++, int(row.looks.size()) - 1)];
                            },
                            {35, 60});
        QSignalSpy ready(&watch, &TrayHostWatch::ready);
        QSignalSpy missed(&watch, &TrayHostWatch::missing);
        clock.start();
        watch.start();
        for (int at : row.changes_at) {
            QTest::qWait(int(at - clock.elapsed()));
            watch.look_again();
        }
        QTest::qWait(int(200 - clock.elapsed()));
        QCOMPARE(next, row.looks_made);
        QCOMPARE(missed.size(), row.missing ? 1 : 0);
        QCOMPARE(ready.size(), row.host == TrayHost::None ? 0 : 1);
        if (row.host != TrayHost::None) {
            QCOMPARE(ready.at(0).at(0).value<TrayHost>(), row.host);
        }
        // An XEmbed tray is taken only once it has been there alone a while.
        QVERIFY(row.host != TrayHost::XEmbed || last_look >= 35);
    }
};

QTEST_MAIN(DesktopSessionTest)
#include "desktop_session_test.moc"
