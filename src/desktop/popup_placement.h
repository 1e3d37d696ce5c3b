#pragma once

#include <QRect>

class QWidget;

namespace ostrel {

// The part of a screen that popups may use: the available area (the screen
// less its panels and docks) when the desktop reports one inside the screen,
// else the whole screen.
QRect popup_area(const QRect& screen, const QRect& available);

// The primary screen's popup area; empty when there is no screen.
QRect primary_popup_area();

// Lets a popup keep the place the program gives it and stay above other
// windows: on XWayland the compositor would otherwise place it, so there it
// bypasses the window manager. Call before the popup is first shown.
void keep_popup_in_place(QWidget* popup);

}  // namespace ostrel
