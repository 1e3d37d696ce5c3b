// The main window's tray-menu actions.
#include <QCoreApplication>

#include "app/form1.h"
#include "app/sign_in_parts.h"
#include "config/form9.h"
#include "config/general_form.h"
#include "desktop/help_page.h"
#include "desktop/menu1.h"
#include "desktop/tray_menu.h"
#include "notify/nota_manager.h"

namespace ostrel {

namespace {

// Opens the single shared instance of a window: a closed one is made by
// `make`, and loaded afresh; an open one is only brought forward, without
// loading again.
template <typename Window, typename Make>
Window* show_single_instance(QPointer<Window>& instance, Make make) {
    if (instance.isNull()) {
        instance = make();
        instance->setAttribute(Qt::WA_DeleteOnClose);
        instance->load();
    }
    instance->show();
    instance->raise();
    instance->activateWindow();
    return instance.data();
}

// Opens a page in the user's browser, or logs why there is none.
void open_page(const HelpPage& page, const TrayMenu& menu, EventLog& log) {
    if (page.error.isEmpty()) {
        menu.open_url(page.url);
    } else {
        log.log_event(page.error);
    }
}

}  // namespace

void Form1::build_tray_menu() {
    TrayMenuActions actions;
    actions.open_accounts_editor = [this] { open_accounts_editor(); };
    actions.open_general_options = [this] { open_general_options(); };
    actions.check_now = [this] { check_now(); };
    actions.open_log_viewer = [this] { open_log_viewer(); };
    actions.open_help = [this] { open_help(); };
    actions.open_site = [this] { open_site(); };
    actions.exit_program = [this] { exit_program(); };
    tray_menu_ = std::make_unique<TrayMenu>(
        *tray_, actions, [this] { return check_running(); }, this);
}

void Form1::open_accounts_editor() {
    show_single_instance(
        form9_, [this] { return new Form9(context_, passwords_, &sign_ins_->editor, this); });
}

void Form1::open_general_options() {
    show_single_instance(general_form_,
                         [this] { return new GeneralForm(context_, program_path_, this); });
}

void Form1::open_log_viewer() {
    show_single_instance(menu1_, [this] {
        return new Menu1(
            context_, {[this] { check_now(); }, [this] { notes_->show_default_instance(); }}, this);
    });
}

// The same entry point as the schedule: a request while a check runs is
// refused by the driver itself.
void Form1::check_now() {
    executa2();
}

void Form1::open_help() {
    open_page(help_page(QCoreApplication::applicationDirPath(), files_.folder), *tray_menu_, log_);
}

void Form1::open_site() {
    open_page(site_page(QCoreApplication::applicationDirPath(), files_.folder), *tray_menu_, log_);
}

void Form1::exit_program() {
    tray_->remove();
    tray_menu_->end_program();
}

}  // namespace ostrel
