#pragma once

#include <QObject>
#include <functional>

class QTimer;

namespace ostrel {

// What holds tray icons on this desktop.
enum class TrayHost {
    Platform,        // the platform holds them itself (not an X11 or Wayland desktop)
    None,            // nothing, for now
    StatusNotifier,  // a panel that hosts StatusNotifierItems over the session bus
    XEmbed,          // an XEmbed system tray on the X display
};

// Looks for a tray host now. A StatusNotifierItem host wins over an XEmbed
// tray when a panel offers both.
TrayHost current_tray_host();

// How long the watch below waits before it takes an XEmbed tray or says
// there is none.
struct TrayHostTiming {
    // How long an XEmbed tray must be there alone before it is taken: a
    // panel coming up puts up its XEmbed tray and its StatusNotifierItem
    // host at about the same time, in no fixed order.
    int settle_ms = 1500;
    // How long to wait before saying there is no tray: at log-on the
    // program often starts before the panel.
    int missing_after_ms = 10000;
};

// Waits for a tray host before the icon is made: Qt chooses between a
// StatusNotifierItem and an XEmbed icon once per process, when the first icon
// is made, and never changes its mind.
//
// It looks when it starts and then only when the desktop says something
// changed: the StatusNotifierWatcher's name gets an owner or a host registers
// with it (session bus), or an XEmbed tray takes the tray selection (X
// display). An idle program without a tray costs no wake-ups.
class TrayHostWatch : public QObject {
    Q_OBJECT
public:
    using Look = std::function<TrayHost()>;

    // `look` finds the host (tests give their own).
    explicit TrayHostWatch(QObject* parent = nullptr, Look look = current_tray_host,
                           TrayHostTiming timing = TrayHostTiming());

    // Looks at once; then listens until a host is there to stay.
    void start();
    bool started() const { return started_; }

public slots:
    // A tray host may have come or gone: look now.
    void look_again();

signals:
    // Once, when the icon can be made for `host`.
    void ready(TrayHost host);
    // Once, when no tray host came within `missing_after_ms`; `ready` may
    // still follow.
    void missing();

private:
    void listen_to_the_desktop();
    void stop_listening();
    void missing_time_passed();

    Look look_;
    TrayHostTiming timing_;
    QTimer* settle_;  // runs while an XEmbed tray is there alone
    QTimer* missing_after_;
    QObject* listeners_ = nullptr;  // what wakes the watch, dropped once done
    bool started_ = false;
    bool done_ = false;
    bool settled_ = false;
    bool missing_due_ = false;
    bool missing_told_ = false;
};

}  // namespace ostrel
