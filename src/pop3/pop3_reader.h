#pragma once

#include <QString>

#include "core/data_files.h"
#include "core/prompt.h"
#include "mail/mailbox_reader.h"
#include "net/connection.h"
#include "net/connection_security.h"
#include "pop3/capabilities.h"
#include "pop3/pop3_session.h"

namespace ostrel {

class EventLog;
struct HeaderReading;

// What a test may set of a POP3 reader; the product keeps the defaults.
struct Pop3Settings {
    int reply_timeout_ms = kReplyTimeoutMs;
    TlsSettings tls{kPop3TlsPort, {}};
};

// The POP3 mailbox reader: the dialogue with one server at a time over one
// connection. The greeting, CAPA, STLS where the server offers it (and CAPA
// again over TLS), USER and PASS (or AUTH with a bearer token, over TLS only)
// and STAT, then the header block of every message (TOP k 0), those
// the server's header cache holds taken from there when the server gives
// unique ids (UIDL). The header caches and security files live in the
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
    MailboxReading dialogue(const MailboxAccount& account, const CountHeard& count_heard);
    MailboxReading open_secured(const QString& server, Capabilities* offered);
    MailboxReading open_and_ask(const QString& server, Capabilities* offered);
    MailboxReading password_login(const MailboxAccount& account);
    MailboxReading bearer_login(const MailboxAccount& account, const Capabilities& capabilities);
    MailboxReading clear_text_refused(const MailboxAccount& account);
    WaitResult send_bearer_token(const QString& command, const QByteArray& response);
    MailboxReading greet(const QString& server);
    [[nodiscard]] WaitResult start_tls(const QString& server);
    HeaderReading read_headers(const QString& server, qint64 count,
                               const Capabilities& capabilities, MessageTable& messages);
    void keep_header_cache(const QString& server, const HeaderReading& reading);
    QString header_cache_path(const QString& server) const;
    MailboxReading unanswered(WaitResult result, const QString& command) const;

    const DataFiles& files_;
    EventLog& log_;
    int reply_timeout_ms_;
    Pop3Session session_;
    ConnectionSecurity security_;
    // Why the server refused the bearer token of the latest dialogue; empty
    // when it did not.
    QString token_refusal_;
};

}  // namespace ostrel
