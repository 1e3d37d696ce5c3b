#include "desktop/platform_choice.h"

namespace ostrel {

Session current_session() {
    return {qgetenv("QT_QPA_PLATFORM"), qgetenv("WAYLAND_DISPLAY"), qgetenv("DISPLAY"),
            qgetenv("XDG_SESSION_TYPE")};
}

bool is_wayland_session(const Session& session) {
    return !session.wayland_display.isEmpty() || session.session_type == "wayland";
}

QByteArray preferred_platform(const Session& session) {
    if (!session.qt_platform.isEmpty() || session.x_display.isEmpty() ||
        !is_wayland_session(session)) {
        return {};
    }
    return QByteArrayLiteral("xcb");
}

bool popups_bypass_window_manager(const Session& session, const QString& qt_platform_name) {
    return qt_platform_name == QLatin1String("xcb") && is_wayland_session(session);
}

PlatformArguments::PlatformArguments(int argc, char** argv, const QByteArray& platform) {
    pointers_.assign(argv, argv + argc);
    if (!platform.isEmpty()) {
        added_ = {QByteArrayLiteral("-platform"), platform};
        for (QByteArray& argument : added_) {
            pointers_.push_back(argument.data());
        }
    }
    argc_ = int(pointers_.size());
    pointers_.push_back(nullptr);
}

}  // namespace ostrel
