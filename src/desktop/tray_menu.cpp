#include "desktop/tray_menu.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QMenu>
#include <cstdlib>

#include "desktop/help_page.h"
#include "desktop/tray_icon.h"

namespace ostrel {

TrayMenu::TrayMenu(TrayIcon& tray, const TrayMenuActions& actions,
                   std::function<bool()> check_running, QObject* parent)
    : QObject(parent),
      tray_(tray),
      menu_(new QMenu()),
      url_opener_([](const QUrl& url) { QDesktopServices::openUrl(url); }),
      program_ender_([check_running = std::move(check_running)] {
          // A running check waits in nested event loops that cannot be
          // unwound from here; every file is already closed, so end at once.
          if (check_running()) {
              std::exit(0);
          }
          QCoreApplication::exit(0);
      }) {
    menu_->setObjectName(QStringLiteral("www"));
    add_item("pop3", QStringLiteral("Pop3 Accounts"), actions.open_accounts_editor);
    add_item("general", QStringLiteral("General Options"), actions.open_general_options);
    add_item("ver_agora", QStringLiteral("Check Now !"), actions.check_now);
    add_item("ver_log", QStringLiteral("View Log"), actions.open_log_viewer);
    menu_->addSeparator()->setObjectName(QStringLiteral("kkk"));
    add_item("ajuda", QStringLiteral("Help"), actions.open_help);
    add_item("site_meu", site_caption(), actions.open_site);
    add_item("sair", QStringLiteral("Exit"), actions.exit_program);

    // The icon carries the menu, so that panels drawing their own menus get
    // it too; a press still opens it here.
    tray_.set_menu(menu_);
    connect(&tray_, &TrayIcon::activated, this, &TrayMenu::handle_activation);
}

TrayMenu::~TrayMenu() {
    tray_.set_menu(nullptr);
    delete menu_;
}

QAction* TrayMenu::add_item(const char* name, const QString& caption,
                            std::function<void()> action) {
    QAction* item = menu_->addAction(caption);
    item->setObjectName(QLatin1String(name));
    connect(item, &QAction::triggered, this, [action = std::move(action)] { action(); });
    return item;
}

bool TrayMenu::handle_activation(QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::Context) {
        return false;
    }
    ++shown_count_;
    // On a right press the desktop may have opened the icon's menu already.
    if (!menu_->isVisible()) {
        menu_->popup(QCursor::pos());
    }
    return true;
}

}  // namespace ostrel
