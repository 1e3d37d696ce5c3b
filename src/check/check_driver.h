#pragma once

#include <QFile>
#include <QObject>
#include <QString>

#include "check/check_controls.h"
#include "check/token_source.h"
#include "core/app_context.h"
#include "mail/mailbox_reader.h"

namespace ostrel {

class NotaManager;
class PasswordStore;

// One check: every account of the accounts file, in file order, one after
// another. Each account's mailbox is read by the reader `readers` chooses for
// its server, then evaluated; the popups go through `notes`; `controls` are
// the main window's timers, trace, caption and tray image. A line with an
// empty password field is an account signed in with its provider, which logs
// in with the access token `tokens` gives, or else takes its password from
// `passwords`.
class CheckDriver : public QObject {
    Q_OBJECT
public:
    CheckDriver(const AppContext& context, NotaManager& notes, PasswordStore& passwords,
                CheckControls controls, ReaderChoice readers, TokenSource tokens = {},
                QObject* parent = nullptr);
    ~CheckDriver() override;

    // Runs one complete check. A request while a check runs is refused and
    // leaves the running check untouched; while an account's own check runs
    // (below), the complete check follows it.
    void executa2();
    // Checks the lines of one account (server and login) as a complete check
    // checks them: the same seen state, rules, popups and blink. For an idle
    // connection that heard of new mail. Asked for while any check runs, it
    // follows that check, since that one may have read the account before
    // the mail came. The schedule's tick runs on meanwhile.
    void check_account(const QString& server, const QString& login);
    bool running() const { return running_; }

signals:
    // After every check that ran, however it ended.
    void check_finished();

private:
    void run_wanted();
    void run_check();
    void run_account_check(const QString& key);
    bool open_accounts(QStringList* lines);
    bool visit_account(int line_number, const QString& line);
    bool find_credential(MailboxAccount& account);
    void tell_no_token(const QString& server, const QString& login, const TokenAnswer& answer);
    void show_total(const QString& server, qint64 count);

    void restore_after_check();
    void failure_exit(const QString& description);

    AppContext context_;
    NotaManager& notes_;
    PasswordStore& passwords_;
    CheckControls controls_;
    ReaderChoice readers_;
    TokenSource tokens_;
    QFile accounts_;
    bool running_ = false;
    bool whole_ = false;           // the running check is a complete one
    bool whole_wanted_ = false;    // a complete check follows the running one
    QStringList wanted_accounts_;  // account keys whose own checks follow
    bool ending_ = false;          // the program is ending: no check follows
};

}  // namespace ostrel
