#include "desktop/drag_surface.h"

#include <QMouseEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace ostrel {

namespace {

// Where the left button went down last.
enum class Press { None, OnSurface, Elsewhere };

class DragFilter : public QObject {
public:
    DragFilter(QWidget* surface, QWidget* window) : QObject(surface), window_(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* surface = qobject_cast<QWidget*>(watched);
        if (surface == nullptr || window_.isNull()) {
            return false;
        }
        switch (event->type()) {
            case QEvent::MouseButtonPress:
                pressed(surface, static_cast<QMouseEvent*>(event));
                break;
            case QEvent::MouseMove:
                return moved(surface, static_cast<QMouseEvent*>(event));
            case QEvent::MouseButtonRelease:
                press_ = Press::None;
                following_ = false;
                break;
            default:
                break;
        }
        return false;
    }

private:
    void pressed(QWidget* surface, QMouseEvent* mouse) {
        if (mouse->button() != Qt::LeftButton) {
            return;
        }
        press_ = over_surface(surface, mouse) ? Press::OnSurface : Press::Elsewhere;
        following_ = false;
        grab_offset_ = mouse->globalPosition().toPoint() - window_->pos();
    }

    // A move with the left button held starts the drag when the button went
    // down on the surface, or when it came in already held over the surface.
    // A press on one of the surface's controls never drags, wherever the
    // mouse goes afterwards.
    bool moved(QWidget* surface, QMouseEvent* mouse) {
        if (!(mouse->buttons() & Qt::LeftButton)) {
            press_ = Press::None;
            following_ = false;
            return false;
        }
        if (following_) {
            window_->move(mouse->globalPosition().toPoint() - grab_offset_);
            return true;
        }
        if (press_ == Press::Elsewhere ||
            (press_ == Press::None && !over_surface(surface, mouse))) {
            return false;
        }
        if (begin_drag(window_)) {
            press_ = Press::None;
            return true;
        }
        // No system move here: the window follows the mouse itself, keeping
        // the point that was pressed under the pointer.
        if (press_ == Press::None) {
            grab_offset_ = mouse->globalPosition().toPoint() - window_->pos();
        }
        following_ = true;
        window_->move(mouse->globalPosition().toPoint() - grab_offset_);
        return true;
    }

    // Events that reach the surface from one of its controls carry a point
    // on that control, or outside the surface while the control holds the
    // mouse.
    static bool over_surface(QWidget* surface, QMouseEvent* mouse) {
        const QPoint at = mouse->position().toPoint();
        return surface->rect().contains(at) && surface->childAt(at) == nullptr;
    }

    QPointer<QWidget> window_;
    QPoint grab_offset_;
    Press press_ = Press::None;
    bool following_ = false;
};

}  // namespace

void make_drag_surface(QWidget* surface, QWidget* window) {
    if (surface == nullptr || window == nullptr) {
        return;
    }
    surface->installEventFilter(new DragFilter(surface, window));
}

bool begin_drag(QWidget* window) {
    // A window that bypasses the window manager has nobody to move it.
    if (window == nullptr || window->windowHandle() == nullptr || !window->isVisible() ||
        window->windowFlags().testFlag(Qt::X11BypassWindowManagerHint)) {
        return false;
    }
    return window->windowHandle()->startSystemMove();
}

}  // namespace ostrel
