#pragma once

class QWidget;

namespace ostrel {

// Moves `window` with the mouse while the left button is held over `surface`
// (the system does the move, as with a title bar).
void make_drag_surface(QWidget* surface, QWidget* window);

// Starts the system move of `window` at once.
void begin_drag(QWidget* window);

}  // namespace ostrel
