#include "notify/nota_slots.h"

namespace ostrel {

bool NotaSlots::add(QObject* window) {
    if (window == nullptr || !has_room()) {
        return false;
    }
    const int slot = ++count_;
    open_.insert(slot, window);
    QObject::connect(window, &QObject::destroyed, &connections_,
                     [this, slot] { open_.remove(slot); });
    return true;
}

}  // namespace ostrel
