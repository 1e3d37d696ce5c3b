#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>

#include "app/check_policy.h"
#include "config/password_store.h"
#include "core/app_context.h"
#include "core/app_state.h"
#include "core/data_files.h"
#include "core/event_log.h"
#include "core/prompt.h"
#include "desktop/tray_icon.h"
#include "imap/idle_watcher.h"
#include "net/connection.h"

class QPushButton;
class QTextEdit;
class QTimer;

namespace ostrel {

class CheckDriver;
class Form9;
class GeneralForm;
class IdleAccounts;
class Menu1;
class NotaManager;
class Pop3Reader;
struct SignInParts;
class SingleInstance;
class SystemWatch;
class TrayMenu;
namespace imap {
class ImapReader;
}

// Timer periods. The product uses the defaults; tests may shorten them.
struct Timings {
    int check_tick_ms = 60000;
    int blink_ms = 1000;
    int reply_timeout_ms = kReplyTimeoutMs;
    int keyring_timeout_ms = PasswordStore::kTimeoutMs;
    WakeTimings wake;
    imap::IdleTimings idle;
};

// The main window: never shown, it owns the tray icon, the timers, the check
// driver with its mailbox readers, the idle watchers, the sign-ins with mail
// providers, the popups and the shared state.
class Form1 : public QWidget {
    Q_OBJECT
public:
    Form1(const QString& program_folder, const QString& program_path, Prompt prompt,
          Timings timings = Timings(), QWidget* parent = nullptr);
    ~Form1() override;

    // The main window's load. Returns false when another copy runs: the
    // caller then ends the program.
    [[nodiscard]] bool load(SingleInstance& instance);

    // The hidden controls.
    QTimer* Timer1;         // the schedule's one-minute tick
    QTimer* Timer2;         // the tray icon's blink while a check runs
    QTextEdit* Text1;       // the header trace of the latest check, never shown
    QPushButton* Command2;  // "executa", never shown: runs a check
    QPushButton* Command3;  // "nota show", never shown: shows the shared popup

signals:
    void check_finished();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void init_data_files();
    void refresh_tray_icon();
    void set_icon(TrayImage image);

    // One check of every account. A request while a check runs is refused.
    void executa2();
    bool check_running() const;

    // Tray-menu actions.
    void open_accounts_editor();
    void open_general_options();
    void open_log_viewer();
    void check_now();
    void open_help();
    void open_site();
    void exit_program();

    void timer1_tick();
    void check_for_policy();
    void timer2_tick();
    void build_tray_menu();

    DataFiles files_;
    QString program_path_;
    Prompt prompt_;
    Timings timings_;
    AppState state_;
    EventLog log_;
    AppContext context_;
    PasswordStore passwords_;
    TrayImage tray_image_ = TrayImage::Normal;
    TrayIcon* tray_;
    std::unique_ptr<TrayMenu> tray_menu_;
    std::unique_ptr<NotaManager> notes_;
    std::unique_ptr<SignInParts> sign_ins_;
    std::unique_ptr<Pop3Reader> pop3_;
    std::unique_ptr<imap::ImapReader> imap_;
    std::unique_ptr<CheckDriver> driver_;
    IdleAccounts* idle_ = nullptr;
    QPointer<Form9> form9_;
    QPointer<GeneralForm> general_form_;
    QPointer<Menu1> menu1_;
    CheckPolicy policy_;
    SystemWatch* watch_ = nullptr;
};

}  // namespace ostrel
