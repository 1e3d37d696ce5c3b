#pragma once

#include <QPointer>
#include <QString>

#include "notify/nota_slots.h"

class QWidget;

namespace ostrel {

class EventLog;
class NotaForm;

// Creates and keeps the notification popups. They belong to `owner` (the main
// window), which frees those still open; failures go to `log`.
class NotaManager {
public:
    NotaManager(EventLog& log, QWidget* owner);
    ~NotaManager();

    // Creates and shows a notification titled `name` ("nota" or "note") and
    // records it in slot nota_count() + 1. On failure logs "Fatal Err 012 "
    // and a description and returns null.
    NotaForm* new_nota(const QString& name);

    // Notifications created so far; also the slot of the newest one.
    int nota_count() const { return slots_.count(); }
    // The notification in `slot` (the k-th one created, from 1); null when the
    // slot is empty or its window was closed: closed windows are freed.
    NotaForm* nota_list(int slot) const;
    // The newest notification, or null when it was closed or none exists.
    NotaForm* newest() const { return nota_list(nota_count()); }
    // How many of the created notifications are still open.
    int open_count() const { return slots_.open_count(); }

    // Tells that the account `login` on `server` must be signed in with its
    // provider again before it is checked again.
    void show_sign_in_again(const QString& server, const QString& login);
    // Debug popup with the account's message total, at the screen centre.
    void show_total(const QString& message);
    // Shows the single shared notification window (the hidden "nota show"
    // buttons). It is neither counted nor kept in nota_list().
    void show_default_instance();
    NotaForm* default_instance() const;

private:
    EventLog& log_;
    QWidget* owner_;
    NotaSlots slots_;
    QPointer<NotaForm> default_instance_;
};

}  // namespace ostrel
