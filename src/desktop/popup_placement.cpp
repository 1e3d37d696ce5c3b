#include "desktop/popup_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "desktop/platform_choice.h"

namespace ostrel {

QRect popup_area(const QRect& screen, const QRect& available) {
    if (available.isEmpty() || !screen.contains(available)) {
        return screen;
    }
    return available;
}

QRect primary_popup_area() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return {};
    }
    return popup_area(screen->geometry(), screen->availableGeometry());
}

void keep_popup_in_place(QWidget* popup) {
    if (popups_bypass_window_manager(current_session(), QGuiApplication::platformName())) {
        popup->setWindowFlag(Qt::X11BypassWindowManagerHint);
    }
}

}  // namespace ostrel
