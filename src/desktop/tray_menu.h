#pragma once

#include <QObject>
#include <QSystemTrayIcon>
#include <QUrl>
#include <functional>

class QAction;
class QMenu;

namespace ostrel {

class TrayIcon;

// What the menu's items run, in menu order.
struct TrayMenuActions {
    std::function<void()> open_accounts_editor;  // "Pop3 Accounts"
    std::function<void()> open_general_options;  // "General Options"
    std::function<void()> check_now;             // "Check Now !"
    std::function<void()> open_log_viewer;       // "View Log"
    std::function<void()> open_help;             // "Help"
    std::function<void()> open_site;             // the web site's host
    std::function<void()> exit_program;          // "Exit"
};

// The tray icon's menu; it opens on a left or right press of the icon and on
// no other activation.
class TrayMenu : public QObject {
    Q_OBJECT
public:
    using UrlOpener = std::function<void(const QUrl&)>;
    using ProgramEnder = std::function<void()>;

    // Puts the menu on `tray`. `check_running` tells the program's end
    // whether a check is waiting for a server.
    TrayMenu(TrayIcon& tray, const TrayMenuActions& actions, std::function<bool()> check_running,
             QObject* parent = nullptr);
    ~TrayMenu() override;

    QMenu* menu() const { return menu_; }

    // Shows the menu for a press on the icon; returns whether it was shown.
    bool handle_activation(QSystemTrayIcon::ActivationReason reason);
    int shown_count() const { return shown_count_; }

    // Opens a web page in the user's browser (tests put a recorder in).
    void open_url(const QUrl& url) const { url_opener_(url); }
    void set_url_opener(UrlOpener opener) { url_opener_ = std::move(opener); }

    // Ends the program once the icon is down (tests put a recorder in).
    void end_program() const { program_ender_(); }
    void set_program_ender(ProgramEnder ender) { program_ender_ = std::move(ender); }

private:
    QAction* add_item(const char* name, const QString& caption, std::function<void()> action);

    TrayIcon& tray_;
    QMenu* menu_;
    int shown_count_ = 0;
    UrlOpener url_opener_;
    ProgramEnder program_ender_;
};

}  // namespace ostrel
