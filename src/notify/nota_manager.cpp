#include "notify/nota_manager.h"

#include <QLabel>
#include <exception>

#include "core/date_time_text.h"
#include "core/event_log.h"
#include "desktop/popup_placement.h"
#include "notify/nota_form.h"

namespace ostrel {

NotaManager::NotaManager(EventLog& log, QWidget* owner) : log_(log), owner_(owner) {}

// The windows belong to the main window, which frees those still open.
NotaManager::~NotaManager() = default;

NotaForm* NotaManager::new_nota(const QString& name) {
    // The counter is wide enough for any run; the check only keeps it from
    // wrapping.
    if (!slots_.has_room()) {
        log_.log_event(QStringLiteral("Fatal Err 012 no number left for another notification"));
        return nullptr;
    }
    try {
        auto* nota = new NotaForm(log_, owner_);
        nota->setWindowTitle(name);
        nota->load();
        // has_room() was asked above and the window exists: add() cannot refuse it.
        (void)slots_.add(nota);
        return nota;
    } catch (const std::exception& failure) {
        log_.log_event(QStringLiteral("Fatal Err 012 ") + QString::fromLocal8Bit(failure.what()));
    }
    return nullptr;
}

NotaForm* NotaManager::nota_list(int slot) const {
    return qobject_cast<NotaForm*>(slots_.at(slot));
}

NotaForm* NotaManager::default_instance() const {
    return default_instance_;
}

void NotaManager::show_sign_in_again(const QString& server, const QString& login) {
    if (NotaForm* nota = new_nota(QStringLiteral("nota"))) {
        nota->show_sign_in_again(date_time_text(), login, server);
    }
}

void NotaManager::show_total(const QString& message) {
    NotaForm* nota = new_nota(QStringLiteral("nota"));
    if (nota == nullptr) {
        return;
    }
    // Its corner at the centre of the area that panels leave free.
    const QRect area = primary_popup_area();
    if (!area.isEmpty()) {
        nota->move(area.x() + area.width() / 2, area.y() + area.height() / 2);
    }
    nota->Label1->setText(date_time_text());
    nota->Label2->setText(message);
}

void NotaManager::show_default_instance() {
    if (default_instance_.isNull()) {
        default_instance_ = new NotaForm(log_, owner_);
        default_instance_->setWindowTitle(QStringLiteral("nota"));
        default_instance_->load();
        return;
    }
    default_instance_->show();
    default_instance_->raise();
}

}  // namespace ostrel
