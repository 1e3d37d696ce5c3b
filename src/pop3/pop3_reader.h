#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

#include "core/data_files.h"
#include "core/prompt.h"
#include "mail/mailbox_reader.h"
#include "net/connection.h"
#include "net/connection_security.h"
#include "pop3/capabilities.h"
#include "pop3/header_reader.h"
#include "pop3/pop3_session.h"

namespace ostrel {

class EventLog;

// What a test may set of a POP3 reader; the product keeps the defaults.
struct Pop3Settings {
    int reply_timeout_ms = kReplyTimeoutMs;
    TlsSettings tls{kPop3TlsPort, {}};
};

// The POP3 mailbox reader: the dialogue with one server at a time over one
// connection. The greeting, CAPA, STLS where the server offers it (and CAPA
// again over TLS), USER and PASS (or AUTH with a bearer token, over TLS
// only) and STAT, then the header block of every message (TOP k 0), those
// the account's header cache holds taken from there when the server gives
// unique ids (UIDL, with the sizes from LIST). A server that offers
// PIPELINING gets PASS and the listing commands in one write, and the TOP
// commands in a window. The header caches and security files live in the
// program folder `files`; failures go to `log`; certificate questions to
// `prompt`. Every check asks each server afresh what it offers; only the
// note that a server takes passwords in clear is made once per run.
class Pop3Reader : public MailboxReader {
public:
    Pop3Reader(const DataFiles& files, EventLog& log, const Prompt& prompt,
               const Pop3Settings& settings = {});

    MailboxReading read(const MailboxAccount& account, const CountHeard& count_heard) override;

    const Connection& connection() const { return session_.connection(); }

private:
    // How signing in ended: `failed` is the reading to hand back when it did
    // not succeed. `listing_sent`: the listing commands went out with the
    // last login command, and their replies come next.
    struct Login {
        bool signed_in = false;
        bool listing_sent = false;
        MailboxReading failed;
    };

    MailboxReading dialogue(const MailboxAccount& account, const CountHeard& count_heard);
    MailboxReading open_secured(const QString& server, Capabilities* offered);
    MailboxReading open_and_ask(const QString& server, Capabilities* offered);
    Login bearer_login(const MailboxAccount& account, const Capabilities& capabilities);
    MailboxReading clear_text_refused(const MailboxAccount& account);
    WaitResult send_bearer_token(const QString& command, const QByteArray& response);
    MailboxReading greet(const QString& server);
    [[nodiscard]] WaitResult start_tls(const QString& server);
    Login password_login(const MailboxAccount& account, const Capabilities& capabilities);
    HeaderReading read_headers(const CacheOwner& owner, const Capabilities& capabilities,
                               const MailboxListing& listing, MessageTable& messages);
    void retire_shared_header_cache(const QString& server);
    void keep_header_cache(const CacheOwner& owner, const HeaderReading& reading);
    QHash<QString, CachedHeader> header_cache(const CacheOwner& owner, const QString& path);
    QString header_cache_path(const CacheOwner& owner) const;
    MailboxReading broken_off(const BreakOff& stop) const;
    MailboxReading unanswered(WaitResult result, const QString& command) const;

    const DataFiles& files_;
    EventLog& log_;
    int reply_timeout_ms_;
    Pop3Session session_;
    ConnectionSecurity security_;
    // Why the server refused the bearer token of the latest dialogue; empty
    // when it did not.
    QString token_refusal_;
    // Each account's header cache as its last check left it, and the file's
    // size and time then; a file that changed since is read again.
    // `displayed`: every message holds what it reads as.
    struct KeptCache {
        QHash<QString, CachedHeader> messages;
        qint64 file_size = -1;
        QDateTime modified;
        bool displayed = false;
    };
    QHash<QString, KeptCache> kept_caches_;  // by header cache path
};

}  // namespace ostrel
