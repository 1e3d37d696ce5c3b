#pragma once

#include <QList>
#include <QSslCertificate>
#include <QString>

#include "core/data_files.h"
#include "core/prompt.h"
#include "imap/imap_session.h"
#include "mail/mailbox_reader.h"
#include "net/connection_security.h"

namespace ostrel {
class EventLog;
}

namespace ostrel::imap {

struct Offers;
struct UidCache;

// What a test may set of an IMAP reader; the product keeps the defaults.
struct ImapSettings {
    int reply_timeout_ms = kReplyTimeoutMs;
    QList<QSslCertificate> extra_authorities;
};

// The IMAP mailbox reader: INBOX of one server at a time over one
// connection, read without changing anything there. The greeting, the
// capabilities, STARTTLS where the server offers it (with the same rules as
// POP3's STLS), LOGIN (or AUTHENTICATE with a bearer token, over TLS only),
// then EXAMINE INBOX (read-only) and the From and
// Subject fields of every message with BODY.PEEK (no \Seen flag), those the
// account's header cache holds for the same UIDVALIDITY taken from there.
// The messages, in UID order, make the same message table as a POP3
// reading. Caches and security files live in the program folder `files`;
// failures go to `log`; certificate questions to `prompt`.
class ImapReader : public MailboxReader {
public:
    ImapReader(const DataFiles& files, EventLog& log, const Prompt& prompt,
               const ImapSettings& settings = {});

    MailboxReading read(const MailboxAccount& account, const CountHeard& count_heard) override;

    const Connection& connection() const { return session_.connection(); }

private:
    MailboxReading dialogue(const MailboxAccount& account, const CountHeard& count_heard);
    MailboxReading sign_in(const MailboxAccount& account, const Response& greeting);
    MailboxReading password_login(const MailboxAccount& account, const Offers& offers);
    MailboxReading bearer_login(const MailboxAccount& account, const Offers& offers);
    WaitResult ask_offers(Offers* offers);
    WaitResult start_tls(const QString& server, Offers* offers);
    MailboxReading read_inbox(const QString& server, const CountHeard& count_heard);
    MailboxReading fetch(const QByteArray& uids, const ImapSession::Untagged& untagged);
    void keep_cache(const QString& server, const UidCache& cache);
    QString cache_path(const QString& server) const;
    MailboxReading refused(const QString& command, const Response& done) const;
    MailboxReading unanswered(WaitResult result, const QString& command) const;

    const DataFiles& files_;
    EventLog& log_;
    ImapSettings settings_;
    ImapSession session_;
    ConnectionSecurity security_;
    // Why the server refused the bearer token of the latest dialogue; empty
    // when it did not.
    QString token_refusal_;
};

}  // namespace ostrel::imap
