#include "app/form1.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>

#include "app/idle_accounts.h"
#include "app/sign_in_parts.h"
#include "app/startup_files.h"
#include "check/check_driver.h"
#include "core/numeric_value.h"
#include "core/single_instance.h"
#include "desktop/system_watch.h"
#include "desktop/tray_menu.h"
#include "desktop/tray_notice.h"
#include "imap/imap_reader.h"
#include "notify/nota_manager.h"
#include "pop3/pop3_reader.h"

namespace ostrel {

namespace {

QTimer* make_timer(QObject* parent, int interval_ms, bool enabled) {
    auto* timer = new QTimer(parent);
    timer->setInterval(interval_ms);
    if (enabled) {
        timer->start();
    }
    return timer;
}

}  // namespace

Form1::Form1(const QString& program_folder, const QString& program_path, Prompt prompt,
             Timings timings, QWidget* parent)
    : QWidget(parent),
      files_{program_folder},
      program_path_(program_path),
      prompt_(std::move(prompt)),
      timings_(timings),
      log_(files_.log(),
           [this] {
               set_icon(TrayImage::Error);
               refresh_tray_icon();
           }),
      context_{files_, log_, prompt_, state_},
      passwords_(timings_.keyring_timeout_ms),
      tray_(new TrayIcon(this)),
      policy_(
          log_, [this] { return check_running(); }, timings_.wake) {
    setObjectName(QStringLiteral("form1"));
    setWindowTitle(QStringLiteral("Lumetta"));
    new TrayNotice(*tray_, log_, this);

    // The schedule starts only once the load has made sure no other copy runs.
    Timer1 = make_timer(this, timings_.check_tick_ms, false);
    Timer2 = make_timer(this, timings_.blink_ms, false);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer2->setObjectName(QStringLiteral("Timer2"));
    connect(Timer1, &QTimer::timeout, this, &Form1::timer1_tick);
    connect(Timer2, &QTimer::timeout, this, &Form1::timer2_tick);

    Text1 = new QTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setPlainText(QStringLiteral("Text1"));
    Text1->hide();

    Command2 = new QPushButton(QStringLiteral("executa"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->hide();
    connect(Command2, &QPushButton::clicked, this, &Form1::executa2);

    notes_ = std::make_unique<NotaManager>(log_, this);
    sign_ins_ = std::make_unique<SignInParts>(passwords_, files_, log_, &QDesktopServices::openUrl);
    // An account is read over IMAP when its server field says so, else over POP3.
    Pop3Settings pop3;
    pop3.reply_timeout_ms = timings_.reply_timeout_ms;
    pop3_ = std::make_unique<Pop3Reader>(files_, log_, prompt_, pop3);
    imap::ImapSettings imap_settings;
    imap_settings.reply_timeout_ms = timings_.reply_timeout_ms;
    imap_ = std::make_unique<imap::ImapReader>(files_, log_, prompt_, imap_settings);
    driver_ = std::make_unique<CheckDriver>(
        context_, *notes_, passwords_,
        CheckControls{Timer1, Timer2, Text1,
                      [this](const QString& caption) { setWindowTitle(caption); },
                      [this](TrayImage image) {
                          set_icon(image);
                          refresh_tray_icon();
                      }},
        [this](const QString& server) -> MailboxReader& {
            return imap_scheme(server).isEmpty() ? static_cast<MailboxReader&>(*pop3_) : *imap_;
        },
        sign_ins_->check_tokens(), this);
    connect(driver_.get(), &CheckDriver::check_finished, this, &Form1::check_finished);
    connect(driver_.get(), &CheckDriver::check_finished, &policy_, &CheckPolicy::check_ended);
    connect(&policy_, &CheckPolicy::check_due, this, &Form1::check_for_policy);
    idle_ = new IdleAccounts(
        context_, passwords_, sign_ins_->idle_tokens(),
        [this](const QString& server, const QString& login) {
            driver_->check_account(server, login);
        },
        timings_.idle, this);

    Command3 = new QPushButton(QStringLiteral("nota show"), this);
    Command3->setObjectName(QStringLiteral("Command3"));
    Command3->hide();
    connect(Command3, &QPushButton::clicked, this, [this] { notes_->show_default_instance(); });

    build_tray_menu();
}

Form1::~Form1() = default;

bool Form1::load(SingleInstance& instance) {
    set_icon(TrayImage::Normal);
    if (!instance.acquire()) {
        prompt_(QStringLiteral("O Programa já esta a ser executado!"), QString(),
                PromptIcon::Exclamation, PromptButtons::Ok);
        return false;
    }
    init_data_files();
    refresh_tray_icon();
    Timer1->start();
    watch_ = new SystemWatch(this);
    policy_.follow(*watch_);
    idle_->follow(*watch_);
    // Once the program runs: a password may wait for the keyring.
    QTimer::singleShot(0, idle_, &IdleAccounts::start);
    return true;
}

void Form1::init_data_files() {
    ostrel::init_data_files(context_, program_path_);
}

void Form1::set_icon(TrayImage image) {
    tray_image_ = image;
    setWindowIcon(tray_image_icon(image));
}

void Form1::refresh_tray_icon() {
    tray_->refresh(tray_image_);
}

void Form1::executa2() {
    driver_->executa2();
}

bool Form1::check_running() const {
    return driver_->running();
}

void Form1::timer1_tick() {
    ++state_.minute_counter;
    if (state_.minute_counter >= numeric_value(state_.check_interval)) {
        // Skipped while the machine goes to sleep, has just woken or is offline.
        if (policy_.scheduled_check_allowed()) {
            executa2();
        }
        state_.minute_counter = 0;
    }
}

// After waking, or when the network comes back or moves: the schedule counts
// from this check.
void Form1::check_for_policy() {
    executa2();
    state_.minute_counter = 0;
}

// The busy blink: the caption marks which picture is showing.
void Form1::timer2_tick() {
    if (windowTitle() == QLatin1String("Loading Pop3")) {
        setWindowTitle(QString());
        set_icon(TrayImage::Alternate);
    } else {
        setWindowTitle(QStringLiteral("Loading Pop3"));
        set_icon(TrayImage::Normal);
    }
    refresh_tray_icon();
}

void Form1::closeEvent(QCloseEvent* event) {
    tray_->remove();
    QWidget::closeEvent(event);
}

}  // namespace ostrel
