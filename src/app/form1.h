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

class QPushButton;
class QTextEdit;
class QTimer;

namespace ostrel {

class CheckDriver;
class Form9;
class GeneralForm;
class Menu1;
class NotaManager;
class SingleInstance;
class SystemWatch;
class TrayMenu;

// Timer periods. The product uses the defaults; tests may shorten them.
struct Timings {
    int check_tick_ms = 60000;
    int blink_ms = 1000;
    int reply_timeout_ms = 15000;
    int keyring_timeout_ms = PasswordStore::kTimeoutMs;
    WakeTimings wake;
};

// The main window: never shown, it owns the tray icon, the timers, the check
// driver, the popups and the shared state.
class Form1 : public QWidget {
    Q_OBJECT
public:
    Form1(const QString& program_folder, const QString& program_path, Prompt prompt,
          Timings timings = Timings(), QWidget* parent = nullptr);
    ~Form1() override;

    // The main window's load. Returns false when another copy runs: the
    // caller then ends the program.
    bool load(SingleInstance& instance);
    void init_data_files();

    void log_event(const QString& text);
    void refresh_tray_icon();
    void set_icon(TrayImage image);
    TrayImage icon() const { return icon_; }

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

    // The single shared windows the menu opens; null while closed.
    Form9* accounts_editor() const;
    GeneralForm* general_options() const;
    Menu1* log_viewer() const;

    // The data files, log, prompt and state, as the windows below take them.
    const AppContext& context() const { return context_; }
    AppState& state() { return state_; }
    const DataFiles& files() const { return files_; }
    const QString& program_path() const { return program_path_; }
    EventLog& event_log() { return log_; }
    TrayIcon& tray() { return *tray_; }
    TrayMenu& tray_menu() { return *tray_menu_; }
    const Prompt& prompt() const { return prompt_; }
    const Timings& timings() const { return timings_; }
    CheckDriver& driver() { return *driver_; }
    NotaManager& notes() { return *notes_; }
    PasswordStore& passwords() { return passwords_; }

    QTimer* Timer1;
    QTimer* Timer2;
    QTimer* Timer3;
    QTextEdit* Text1;
    QPushButton* Command2;
    QPushButton* Command3;

signals:
    void check_finished();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void timer1_tick();
    void check_for_policy();
    void timer2_tick();
    void timer3_tick();
    void build_tray_menu();
    void init_data_files_steps();

    DataFiles files_;
    QString program_path_;
    Prompt prompt_;
    Timings timings_;
    AppState state_;
    EventLog log_;
    AppContext context_;
    PasswordStore passwords_;
    TrayImage icon_ = TrayImage::Normal;
    TrayIcon* tray_;
    std::unique_ptr<TrayMenu> tray_menu_;
    std::unique_ptr<CheckDriver> driver_;
    std::unique_ptr<NotaManager> notes_;
    QPointer<Form9> form9_;
    QPointer<GeneralForm> general_form_;
    QPointer<Menu1> menu1_;
    CheckPolicy policy_;
    SystemWatch* watch_ = nullptr;
};

}  // namespace ostrel
