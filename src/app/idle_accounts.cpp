#include "app/idle_accounts.h"

#include <QFile>
#include <QRegularExpression>

#include "config/accounts_file.h"
#include "config/password_store.h"
#include "core/numeric_value.h"
#include "desktop/system_watch.h"

namespace ostrel {

namespace {

constexpr int kSettleMs = 500;

}  // namespace

IdleAccounts::IdleAccounts(const AppContext& context, PasswordStore& passwords, TokenSource tokens,
                           CheckAccount check_account, imap::IdleTimings timings, QObject* parent)
    : QObject(parent),
      context_(context),
      passwords_(passwords),
      tokens_(std::move(tokens)),
      check_account_(std::move(check_account)),
      timings_(timings) {
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, &IdleAccounts::make_watchers);
    connect(&file_watch_, &QFileSystemWatcher::fileChanged, this, [this] {
        follow_file();
        settle_.start();
    });
    // A file replaced whole is a new file in the folder.
    connect(&file_watch_, &QFileSystemWatcher::directoryChanged, this, [this] {
        if (file_watch_.files().isEmpty() && QFile::exists(context_.files.accounts())) {
            follow_file();
            settle_.start();
        }
    });
}

IdleAccounts::~IdleAccounts() = default;

void IdleAccounts::start() {
    file_watch_.addPath(context_.files.folder);
    follow_file();
    make_watchers();
}

void IdleAccounts::follow(const SystemWatch& watch) {
    connect(&watch, &SystemWatch::preparing_for_sleep, this, &IdleAccounts::preparing_for_sleep);
    connect(&watch, &SystemWatch::network_changed, this, &IdleAccounts::network_changed);
}

void IdleAccounts::preparing_for_sleep(bool sleeping) {
    asleep_ = sleeping;
    for (const auto& watcher : watchers_) {
        if (sleeping) {
            watcher->stop();
        } else {
            watcher->start();
        }
    }
}

// Connections made before may be dead, and a new one would work.
void IdleAccounts::network_changed() {
    if (!asleep_) {
        for (const auto& watcher : watchers_) {
            watcher->start();
        }
    }
}

// A file replaced whole (an atomic rewrite) is no longer the one watched:
// the watch moves to the file now there.
void IdleAccounts::follow_file() {
    const QString path = context_.files.accounts();
    file_watch_.removePath(path);
    if (QFile::exists(path)) {
        file_watch_.addPath(path);
    }
}

// As a check finds it: the password in the line, else the sign-in's token,
// else the password in the keyring. False when there is none now; the
// scheduled check says why.
bool IdleAccounts::find_credential(MailboxAccount& account) {
    if (!account.credential.secret.isEmpty()) {
        return true;
    }
    const TokenAnswer answer =
        tokens_ ? tokens_(account.server, account.login, false) : TokenAnswer();
    if (answer.status == TokenAnswer::Ready) {
        account.credential = {Credential::Kind::BearerToken, answer.token,
                              [tokens = tokens_, server = account.server,
                               login = account.login]() -> std::optional<QString> {
                                  const TokenAnswer now = tokens(server, login, false);
                                  return now.status == TokenAnswer::Ready
                                             ? std::optional<QString>(now.token)
                                             : std::nullopt;
                              }};
        return true;
    }
    if (answer.status != TokenAnswer::NotSignedIn) {
        return false;
    }
    const KeyringResult stored = passwords_.read(keyring_key(account.server, account.login));
    account.credential.secret = stored.password;
    return stored.done();
}

void IdleAccounts::make_watchers() {
    // A keyring read waits in a nested event loop, in which the file may
    // change again: the settle timer then makes them once more.
    if (making_) {
        settle_.start();
        return;
    }
    making_ = true;
    watchers_.clear();
    imap::IdleTimings timings = timings_;
    const double minutes = numeric_value(context_.state.check_interval);
    if (minutes >= 1) {
        timings.longest_retry_ms = int(qMin(minutes, 24.0 * 60) * 60000);
    }
    std::vector<std::unique_ptr<imap::IdleWatcher>> made;
    QFile file(context_.files.accounts());
    const QStringList lines =
        file.open(QIODevice::ReadOnly) ? split_account_lines(file.readAll()) : QStringList();
    // The lines a check would visit over IMAP.
    for (const QString& line : lines) {
        const QStringList fields = split_account_fields(line);
        if (fields.size() < 4 || imap_scheme(fields[0]).isEmpty() ||
            !parse_mailbox_address(fields[0]).error.isEmpty()) {
            continue;
        }
        MailboxAccount account{fields[0], fields[1], {Credential::Kind::Password, fields[2], {}}};
        if (!find_credential(account) ||
            account.login.contains(QRegularExpression(QStringLiteral("[\r\n]"))) ||
            account.credential.secret.contains(QRegularExpression(QStringLiteral("[\r\n]")))) {
            continue;
        }
        auto watcher =
            std::make_unique<imap::IdleWatcher>(context_.files, context_.log, account, timings);
        // Queued: the check runs from the event loop, not inside the watcher.
        connect(
            watcher.get(), &imap::IdleWatcher::new_mail, this,
            [this](const QString& server, const QString& login) { check_account_(server, login); },
            Qt::QueuedConnection);
        made.push_back(std::move(watcher));
    }
    watchers_ = std::move(made);
    if (!asleep_) {
        for (const auto& watcher : watchers_) {
            watcher->start();
        }
    }
    making_ = false;
    emit watchers_made();
}

}  // namespace ostrel
