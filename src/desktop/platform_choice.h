#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

namespace ostrel {

// The variables of the desktop session that decide where the windows go.
struct Session {
    QByteArray qt_platform;      // QT_QPA_PLATFORM: a platform the user chose
    QByteArray wayland_display;  // WAYLAND_DISPLAY
    QByteArray x_display;        // DISPLAY: XWayland's display in a Wayland session
    QByteArray session_type;     // XDG_SESSION_TYPE
};

Session current_session();

bool is_wayland_session(const Session& session);

// The platform to ask Qt for; empty leaves Qt's own choice. A Wayland
// compositor places every window itself and keeps none above the others on
// request, so in a Wayland session with XWayland the program runs on X11,
// where its popups can take the bottom right corner and stay on top. A
// platform the user chose is kept.
QByteArray preferred_platform(const Session& session);

// Whether popups must bypass the window manager to keep their place and stay
// above: true on XWayland, whose window manager is the compositor's.
bool popups_bypass_window_manager(const Session& session, const QString& qt_platform_name);

// The command line with "-platform <name>" added when a platform is
// preferred; `argc` and `argv` stay valid while this object lives.
class PlatformArguments {
public:
    PlatformArguments(int argc, char** argv, const QByteArray& platform);
    int& argc() { return argc_; }
    char** argv() { return pointers_.data(); }

private:
    std::vector<QByteArray> added_;
    std::vector<char*> pointers_;
    int argc_ = 0;
};

}  // namespace ostrel
