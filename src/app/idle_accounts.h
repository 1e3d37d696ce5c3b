#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "check/token_source.h"
#include "core/app_context.h"
#include "imap/idle_watcher.h"

namespace ostrel {

class PasswordStore;
class SystemWatch;

// The idle watchers of the IMAP accounts in the accounts file: made once
// the program has started and made anew whenever the file changes (the
// accounts editor's Save, an edit by hand), each with its password from the
// account's line, the access tokens of its sign-in with its provider (asked
// at each new connection), or its password from the keyring. They close while the machine sleeps
// and open again when it wakes and when the network comes back or moves. New mail one of them hears
// of becomes a check of its account, through `check_account`, from the event loop (never inside the
// watcher's own signal). An account whose password cannot be read gets no watcher; the scheduled
// check says why.
class IdleAccounts : public QObject {
    Q_OBJECT
public:
    using CheckAccount = std::function<void(const QString& server, const QString& login)>;

    IdleAccounts(const AppContext& context, PasswordStore& passwords, TokenSource tokens,
                 CheckAccount check_account, imap::IdleTimings timings = imap::IdleTimings(),
                 QObject* parent = nullptr);
    ~IdleAccounts() override;

    // Makes the watchers and follows the accounts file from now on.
    void start();
    // Sleep and the network, as the system tells them.
    void follow(const SystemWatch& watch);
    void preparing_for_sleep(bool sleeping);
    void network_changed();

    const std::vector<std::unique_ptr<imap::IdleWatcher>>& watchers() const { return watchers_; }

signals:
    // The watchers were made anew.
    void watchers_made();

private:
    void make_watchers();
    bool find_credential(MailboxAccount& account);
    void follow_file();

    AppContext context_;
    PasswordStore& passwords_;
    TokenSource tokens_;
    CheckAccount check_account_;
    imap::IdleTimings timings_;
    QFileSystemWatcher file_watch_;
    QTimer settle_;  // the several writes of one Save make one change
    bool asleep_ = false;
    bool making_ = false;
    std::vector<std::unique_ptr<imap::IdleWatcher>> watchers_;
};

}  // namespace ostrel
