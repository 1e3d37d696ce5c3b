#include "desktop/tray_menu.h"

#include <QMenu>

#include "core/form1.h"

namespace ostrel {

TrayMenu::TrayMenu(Form1& form) : QObject(&form), form_(form), menu_(new QMenu()) {}

TrayMenu::~TrayMenu() {
    delete menu_;
}

}  // namespace ostrel
