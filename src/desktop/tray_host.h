#pragma once

#include <QElapsedTimer>
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

// How the watch below spaces its looks.
struct TrayHostTiming {
    // How often to look again while waiting.
    int recheck_ms = 1000;
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
class TrayHostWatch : public QObject {
    Q_OBJECT
public:
    using Look = std::function<TrayHost()>;

    // `look` finds the host (tests give their own).
    explicit TrayHostWatch(QObject* parent = nullptr, Look look = current_tray_host,
                           TrayHostTiming timing = TrayHostTiming());

    // Looks at once; keeps looking until a host is there to stay.
    void start();
    bool started() const { return started_; }

signals:
    // Once, when the icon can be made for `host`.
    void ready(TrayHost host);
    // Once, when no tray host came within `missing_after_ms`; `ready` may
    // still follow.
    void missing();

private slots:
    void look();

private:
    void watch_session_bus();

    Look look_;
    TrayHostTiming timing_;
    QTimer* recheck_;
    QElapsedTimer since_start_;
    QElapsedTimer xembed_alone_;  // valid while an XEmbed tray is there alone
    bool started_ = false;
    bool done_ = false;
    bool missing_told_ = false;
};

}  // namespace ostrel
