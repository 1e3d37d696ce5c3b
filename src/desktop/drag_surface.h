#pragma once

class QWidget;

namespace ostrel {

// Moves `window` with the mouse while the left button is held over `surface`
// itself (not over its child controls). The system does the move, as with a
// title bar; where it cannot, the window follows the mouse.
void make_drag_surface(QWidget* surface, QWidget* window);

// Asks the system to move `window` with the mouse from now on. False when the
// window is not on screen or the system cannot do it.
bool begin_drag(QWidget* window);

}  // namespace ostrel
