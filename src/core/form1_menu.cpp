// The main window's tray-menu actions.
#include <QCoreApplication>

#include "core/form1.h"
#include "desktop/tray_menu.h"

namespace ostrel {

void Form1::build_tray_menu() {
    tray_menu_ = std::make_unique<TrayMenu>(*this);
}

void Form1::open_accounts_editor() {}

void Form1::open_general_options() {}

void Form1::open_log_viewer() {}

void Form1::check_now() {
    executa2();
}

void Form1::open_help() {}

void Form1::open_site() {}

void Form1::exit_program() {
    tray_->remove();
    QCoreApplication::exit(0);
}

}  // namespace ostrel
