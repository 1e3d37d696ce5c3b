#include "check/check_driver.h"

#include <QTextEdit>
#include <QTimer>
#include <utility>

#include "check/mail_evaluation.h"
#include "config/accounts_file.h"
#include "config/password_store.h"
#include "core/data_files.h"
#include "notify/nota_manager.h"

namespace ostrel {

namespace {

using Outcome = MailboxReading::Outcome;

bool holds_line_break(const QString& text) {
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

const QString kStateKept = QStringLiteral("; its seen state was left as it was");

}  // namespace

CheckDriver::CheckDriver(const AppContext& context, NotaManager& notes, PasswordStore& passwords,
                         CheckControls controls, ReaderChoice readers, QObject* parent)
    : QObject(parent),
      context_(context),
      notes_(notes),
      passwords_(passwords),
      controls_(std::move(controls)),
      readers_(std::move(readers)) {}

CheckDriver::~CheckDriver() = default;

void CheckDriver::executa2() {
    if (running_) {
        whole_wanted_ = whole_wanted_ || !whole_;
        return;
    }
    whole_wanted_ = true;
    run_wanted();
}

void CheckDriver::check_account(const QString& server, const QString& login) {
    const QString key = account_key(server, login);
    if (!wanted_accounts_.contains(key)) {
        wanted_accounts_ << key;
    }
    if (!running_) {
        run_wanted();
    }
}

// The checks asked for, one after another: a complete one covers every
// account asked for before it began.
void CheckDriver::run_wanted() {
    while (whole_wanted_ || !wanted_accounts_.isEmpty()) {
        running_ = true;
        whole_ = std::exchange(whole_wanted_, false);
        if (whole_) {
            wanted_accounts_.clear();
            run_check();
        } else {
            run_account_check(wanted_accounts_.takeFirst());
        }
        running_ = false;
        emit check_finished();
        if (ending_) {
            whole_wanted_ = false;
            wanted_accounts_.clear();
        }
    }
}

void CheckDriver::run_check() {
    controls_.Timer1->stop();
    QStringList lines;
    if (!open_accounts(&lines)) {
        return;
    }
    for (int n = 0; n < lines.size(); ++n) {
        if (!visit_account(n + 1, lines[n])) {
            return;
        }
    }
    restore_after_check();
}

void CheckDriver::run_account_check(const QString& key) {
    QStringList lines;
    if (!open_accounts(&lines)) {
        return;
    }
    for (int n = 0; n < lines.size(); ++n) {
        const QStringList fields = split_account_fields(lines[n]);
        if (fields.size() >= 2 && account_key(fields[0], fields[1]) == key &&
            !visit_account(n + 1, lines[n])) {
            return;
        }
    }
    restore_after_check();
}

// The blink starts, the trace is cleared and the accounts are read.
bool CheckDriver::open_accounts(QStringList* lines) {
    controls_.Timer2->start();
    controls_.Text1->clear();
    accounts_.setFileName(context_.files.accounts());
    if (!accounts_.open(QIODevice::ReadOnly)) {
        failure_exit(QStringLiteral(" cannot open %1: %2")
                         .arg(accounts_.fileName(), accounts_.errorString()));
        return false;
    }
    *lines = split_account_lines(accounts_.readAll());
    return true;
}

// One line of the accounts file. Whatever goes wrong with it is logged (or,
// for a refused login, shown) and ends this account only. Returns false when
// the program is ending.
bool CheckDriver::visit_account(int line_number, const QString& line) {
    const QStringList fields = split_account_fields(line);
    const QString where =
        QStringLiteral("Err 001 line %1 of %2").arg(line_number).arg(accounts_.fileName());
    if (fields.isEmpty()) {
        context_.log.log_event(where + QStringLiteral(" is empty"));
        return true;
    }
    const QString& server = fields[0];
    if (fields.size() < 4) {
        context_.log.log_event(where + QStringLiteral(" holds fewer than four fields"));
        return true;
    }
    MailboxAccount account{server, fields[1], fields[2]};
    if (account.credential.isEmpty()) {
        // The accounts editor keeps the password in the keyring and leaves
        // the field empty. Without it the account is not visited at all.
        const QString key = keyring_key(server, account.login);
        const KeyringResult stored = passwords_.read(key);
        if (!stored.done()) {
            context_.log.log_event(server + QStringLiteral(": the password of ") + key +
                                   QStringLiteral(" was not read from the keyring (") +
                                   stored.reason() +
                                   QStringLiteral("), so the account was not checked"));
            return true;
        }
        account.credential = stored.password;
    }
    if (holds_line_break(account.login) || holds_line_break(account.credential)) {
        context_.log.log_event(where +
                               QStringLiteral(": the login or password holds a line break, "
                                              "so nothing was sent to ") +
                               server);
        return true;
    }
    const MailboxReading reading = readers_(server).read(
        account, [this, &server](qint64 count) { show_total(server, count); });
    switch (reading.outcome) {
        case Outcome::Read:
            process_headers(context_.files, context_.log, notes_, controls_.Text1,
                            {server, fields[3], reading.messages, reading.count});
            break;
        case Outcome::Ending:
            ending_ = true;
            return false;
        case Outcome::CannotConnect:
            context_.log.log_event((imap_scheme(server).isEmpty()
                                        ? QStringLiteral("Can\u00b4t connect to Pop3 ")
                                        : QStringLiteral("Can\u00b4t connect to IMAP ")) +
                                   server);
            break;
        case Outcome::Refused:
            context_.prompt(reading.text, QString(), PromptIcon::None, PromptButtons::Ok);
            break;
        case Outcome::Abandoned:
            context_.log.log_event(server + QStringLiteral(": ") + reading.text + kStateKept);
            break;
    }
    return true;
}

// In debug mode each account's message count, as soon as the server tells it.
void CheckDriver::show_total(const QString& server, qint64 count) {
    if (context_.state.debug_mode) {
        notes_.show_total(QStringLiteral("total ") + server + QLatin1Char(' ') +
                          QString::number(count));
    }
}

// Between checks: Timer1 running, no blink, caption "Get Mail", the normal
// image, the accounts file closed (each reader closes its own connection).
// An account's own check leaves the schedule's tick as it runs.
void CheckDriver::restore_after_check() {
    accounts_.close();
    controls_.Timer2->stop();
    if (whole_) {
        controls_.Timer1->start();
    }
    controls_.set_caption(QStringLiteral("Get Mail"));
    controls_.show_image(TrayImage::Normal);
}

// The accounts file cannot be read: the check ends.
void CheckDriver::failure_exit(const QString& description) {
    context_.log.log_event(QStringLiteral("Err 001") + description);
    restore_after_check();
}

}  // namespace ostrel
