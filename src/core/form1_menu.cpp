// The main window's tray-menu actions.
#include "config/form9.h"
#include "config/general_form.h"
#include "core/form1.h"
#include "desktop/menu1.h"
#include "desktop/tray_menu.h"

namespace ostrel {

namespace {

// Opens the single shared instance of a window: a closed one is created and
// loaded afresh; an open one is only brought forward, without loading again.
template <typename Window>
Window* show_single_instance(QPointer<Window>& instance, Form1& form) {
    if (instance.isNull()) {
        instance = new Window(form, &form);
        instance->setAttribute(Qt::WA_DeleteOnClose);
        instance->load();
    }
    instance->show();
    instance->raise();
    instance->activateWindow();
    return instance.data();
}

}  // namespace

void Form1::build_tray_menu() {
    tray_menu_ = std::make_unique<TrayMenu>(*this);
}

void Form1::open_accounts_editor() {
    show_single_instance(form9_, *this);
}

void Form1::open_general_options() {
    show_single_instance(general_form_, *this);
}

void Form1::open_log_viewer() {
    show_single_instance(menu1_, *this);
}

Form9* Form1::accounts_editor() const {
    return form9_.data();
}

GeneralForm* Form1::general_options() const {
    return general_form_.data();
}

Menu1* Form1::log_viewer() const {
    return menu1_.data();
}

// The same entry point as the schedule: a request while a check runs is
// refused by the driver itself.
void Form1::check_now() {
    executa2();
}

void Form1::open_help() {
    tray_menu_->open_url(help_page_url());
}

void Form1::open_site() {
    tray_menu_->open_url(site_url());
}

void Form1::exit_program() {
    tray_->remove();
    tray_menu_->end_program();
}

}  // namespace ostrel
