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
                         CheckControls controls, ReaderChoice readers, TokenSource tokens,
                         QObject* parent)
    : QObject(parent),
      context_(context),
      notes_(notes),
      passwords_(passwords),
      controls_(std::move(controls)),
      readers_(std::move(readers)),
      tokens_(std::move(tokens)) {}

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
    MailboxAccount account{server, fields[1], {Credential::Kind::Password, fields[2], {}}};
    if (!find_credential(account)) {
        return true;
    }
    if (holds_line_break(account.login) || holds_line_break(account.credential.secret)) {
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
        case Outcome::SignInFailed:
            break;
    }
    return true;
}

// How the account signs in: with the password its line holds, as ever; else
// with the access token of its sign-in with its provider, or else with its
// password from the keyring. False when it cannot sign in now (logged): it
// is not visited.
bool CheckDriver::find_credential(MailboxAccount& account) {
    if (!account.credential.secret.isEmpty()) {
        return true;
    }
    const TokenAnswer answer =
        tokens_ ? tokens_(account.server, account.login, false) : TokenAnswer();
    if (answer.status == TokenAnswer::Ready) {
        account.credential = {
            Credential::Kind::BearerToken, answer.token,
            [this, server = account.server, login = account.login]() -> std::optional<QString> {
                const TokenAnswer renewed = tokens_(server, login, true);
                if (renewed.status == TokenAnswer::Ready) {
                    return renewed.token;
                }
                tell_no_token(server, login, renewed);
                return std::nullopt;
            }};
        return true;
    }
    if (answer.status != TokenAnswer::NotSignedIn) {
        tell_no_token(account.server, account.login, answer);
        return false;
    }
    // The accounts editor keeps the password in the keyring and leaves the
    // field empty. Without it the account is not visited at all.
    const QString key = keyring_key(account.server, account.login);
    const KeyringResult stored = passwords_.read(key);
    if (!stored.done()) {
        context_.log.log_event(account.server + QStringLiteral(": the password of ") + key +
                               QStringLiteral(" was not read from the keyring (") +
                               stored.reason() +
                               QStringLiteral("), so the account was not checked"));
        return false;
    }
    account.credential.secret = stored.password;
    return true;
}

// A signed-in account without a token. One the provider no longer takes is
// told once, in the log and in a notice, and then skipped silently until it
// is signed in again.
void CheckDriver::tell_no_token(const QString& server, const QString& login,
                                const TokenAnswer& answer) {
    if (answer.status != TokenAnswer::SignInAgain) {
        context_.log.log_event(
            QStringLiteral("%1: no access token for %2 (%3), so the account was not checked")
                .arg(server, login, answer.reason));
    } else if (answer.first_notice) {
        context_.log.log_event(QStringLiteral("%1: %2; until then the account is not checked")
                                   .arg(server, answer.reason));
        notes_.show_sign_in_again(server, login);
    }
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
