#pragma once

#include <QHash>
#include <QObject>
#include <limits>

namespace ostrel {

// The numbered slots of the notification windows: slot k holds the k-th
// window created in this run, slot 0 stays empty and slots are never reused.
// Only open windows are held: a window that is destroyed leaves its slot,
// which then reads as empty, so memory follows the open windows, not the
// number created.
class NotaSlots {
public:
    // Whether a slot is left for one more window.
    bool has_room() const { return count_ < std::numeric_limits<int>::max(); }
    // Records `window` in slot count() + 1. False, with nothing changed, when
    // no slot is left.
    [[nodiscard]] bool add(QObject* window);

    // Windows recorded so far; also the slot of the newest one.
    int count() const { return count_; }
    // The window in `slot`, or null when the slot is empty or its window is gone.
    QObject* at(int slot) const { return open_.value(slot, nullptr); }
    QObject* newest() const { return at(count_); }
    // How many recorded windows still exist.
    int open_count() const { return int(open_.size()); }

private:
    int count_ = 0;
    QHash<int, QObject*> open_;
    // Owns the connections to the windows, so that a window destroyed after
    // the slots were (at program end) calls nothing.
    QObject connections_;
};

}  // namespace ostrel
