#include "pop3/pop3_reader.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "auth/sasl.h"
#include "auth/token_endpoint.h"
#include "core/event_log.h"
#include "mail/token_renewal.h"
#include "net/server_address.h"
#include "net/tls_policy.h"
#include "pop3/header_cache.h"
#include "pop3/header_reader.h"

namespace ostrel {

namespace {

using Outcome = MailboxReading::Outcome;

// A POP3 command line may hold 255 octets, its CR LF included (RFC 2449).
constexpr qsizetype kMaxCommandLine = 255;

}  // namespace

Pop3Reader::Pop3Reader(const DataFiles& files, EventLog& log, const Prompt& prompt,
                       const Pop3Settings& settings)
    : files_(files),
      log_(log),
      reply_timeout_ms_(settings.reply_timeout_ms),
      session_(log, settings.reply_timeout_ms),
      security_(files, log, prompt, session_.connection(), QStringLiteral("STLS")) {
    session_.connection().set_tls_settings(settings.tls);
}

MailboxReading Pop3Reader::read(const MailboxAccount& account, const CountHeard& count_heard) {
    return read_renewing_token(account, log_, [&](const MailboxAccount& as, QString* refusal) {
        token_refusal_.clear();
        MailboxReading reading = dialogue(as, count_heard);
        session_.close();
        *refusal = token_refusal_;
        return reading;
    });
}

// The dialogue with one server. The mailbox counts as read only when every
// command got its own complete reply.
MailboxReading Pop3Reader::dialogue(const MailboxAccount& account, const CountHeard& count_heard) {
    const QString& server = account.server;
    Capabilities capabilities;
    const MailboxReading opened = open_secured(server, &capabilities);
    if (opened.outcome != Outcome::Read) {
        return opened;
    }
    const bool bearer = account.credential.kind == Credential::Kind::BearerToken;
    if (bearer && !session_.connection().is_encrypted()) {
        return clear_text_refused(account);
    }
    const Login login =
        bearer ? bearer_login(account, capabilities) : password_login(account, capabilities);
    if (!login.signed_in) {
        return login.failed;
    }
    MailboxListing listing;
    const BreakOff listed = read_listing(session_, capabilities, login.listing_sent, &listing);
    if (listed.happened()) {
        return broken_off(listed);
    }
    if (count_heard) {
        count_heard(listing.count);
    }
    MailboxReading reading;
    const CacheOwner owner{server, account.login};
    const HeaderReading headers = read_headers(owner, capabilities, listing, reading.messages);
    if (headers.stop.happened()) {
        return broken_off(headers.stop);
    }
    if (!headers.refused_run_end.isEmpty()) {
        log_.log_event(QStringLiteral("%1: %2 TOP commands in a row were refused, the last %3; "
                                      "the rest of the %4 messages it claims were not read")
                           .arg(server)
                           .arg(kRefusedTopRun)
                           .arg(headers.refused_run_end)
                           .arg(listing.count));
    }
    reading.count = headers.count;
    keep_header_cache(owner, headers);
    return reading;
}

// A connection ready for the login, and what the server offers on it; or the
// reading that ends the account, with nothing private sent.
MailboxReading Pop3Reader::open_secured(const QString& server, Capabilities* offered) {
    const MailboxReading asked = open_and_ask(server, offered);
    if (asked.outcome != Outcome::Read) {
        return asked;
    }
    const bool was_encrypted = session_.connection().is_encrypted();
    const WaitResult secured =
        security_.secure(server, offered->stls, [this, &server] { return start_tls(server); });
    if (secured == WaitResult::NotConnected) {
        return MailboxReading::failed(Outcome::CannotConnect);
    }
    if (secured != WaitResult::Answered) {
        return unanswered(secured, QStringLiteral("STLS"));
    }
    if (was_encrypted || !session_.connection().is_encrypted()) {
        return {};
    }
    // What the server offered in clear may have been altered on the way: only
    // the listing asked for over TLS counts.
    const CapaAnswer again = ask_capabilities(session_);
    *offered = again.offered;
    if (again.kind == CapaAnswer::Listed || again.kind == CapaAnswer::Refused) {
        return {};
    }
    return unanswered(again.result, QStringLiteral("CAPA after STLS"));
}

// Connects, greets and asks CAPA. A server that left CAPA unanswered is
// unknown, never taken for one without STLS: a second connection asks again,
// and when that is left unanswered too the account waits for the next check.
// A server that closed the connection at CAPA does not speak it: the second
// connection goes on with the basic dialogue.
MailboxReading Pop3Reader::open_and_ask(const QString& server, Capabilities* offered) {
    bool ask = true;
    for (int attempt = 1;; ++attempt) {
        const MailboxReading greeted = greet(server);
        if (greeted.outcome != Outcome::Read || !ask) {
            return greeted;
        }
        const CapaAnswer answer = ask_capabilities(session_);
        *offered = answer.offered;
        if (answer.kind == CapaAnswer::Listed || answer.kind == CapaAnswer::Refused) {
            return greeted;
        }
        MailboxReading given_up = unanswered(answer.result, QStringLiteral("CAPA"));
        if (answer.kind == CapaAnswer::Failed) {
            return given_up;
        }
        if (attempt == 2) {
            given_up.text += QStringLiteral(
                ", on a second connection too; nothing else was sent, and CAPA is asked again "
                "at the next check");
            return given_up;
        }
        ask = answer.kind == CapaAnswer::Unknown;
        session_.close();
    }
}

// AUTH with the account's bearer token over the secured connection (RFC 5034
// with OAUTHBEARER or XOAUTH2, as its listing over TLS names them). A
// refusal is noted in token_refusal_ for read() to renew the token.
Pop3Reader::Login Pop3Reader::bearer_login(const MailboxAccount& account,
                                           const Capabilities& capabilities) {
    const QString& server = account.server;
    Login login;
    const std::optional<BearerMechanism> mechanism = choose_bearer_mechanism(capabilities.sasl);
    if (!mechanism) {
        log_.log_event(QStringLiteral("%1: the server offers no sign-in with a token (SASL "
                                      "OAUTHBEARER or XOAUTH2), so %2, which is signed in with "
                                      "its provider, was not checked; no password is sent for it")
                           .arg(server, account.login));
        login.failed = MailboxReading::failed(Outcome::SignInFailed);
        return login;
    }
    const ServerAddress address = parse_server_address(server, kPop3Port);
    const WaitResult sent = send_bearer_token(
        QStringLiteral("AUTH ") + mechanism_name(*mechanism),
        bearer_initial_response(*mechanism, account.login, account.credential.secret, address.host,
                                address.port));
    if (sent != WaitResult::Answered) {
        login.failed = unanswered(sent, QStringLiteral("AUTH"));
        return login;
    }
    const QString reply = session_.reply().reply_text();
    if (!reply.startsWith(QLatin1String("+OK"))) {
        if (reply.startsWith(QLatin1Char('+'))) {
            // An error challenge: the server says why, and ends the exchange
            // with its refusal once answered; the connection closes after
            // it whatever the server does.
            token_refusal_ = bearer_refusal_reason(reply.mid(1).trimmed().toLatin1());
            static_cast<void>(
                session_.sendMsg(QString::fromLatin1(bearer_challenge_answer(*mechanism))));
        } else {
            token_refusal_ = QStringLiteral("the server answered \"%1\"").arg(provider_text(reply));
        }
        login.failed = MailboxReading::failed(Outcome::SignInFailed);
        return login;
    }
    login.signed_in = true;
    return login;
}

// The AUTH command with its initial response on one line, or, where that
// line would be too long for POP3, alone and the response after the
// server's empty challenge ("+ ").
WaitResult Pop3Reader::send_bearer_token(const QString& command, const QByteArray& response) {
    if (command.size() + 1 + response.size() + 2 <= kMaxCommandLine) {
        return session_.sendMsg(command + QLatin1Char(' ') + QString::fromLatin1(response));
    }
    const WaitResult asked = session_.sendMsg(command);
    if (asked != WaitResult::Answered || !session_.reply().reply_text().startsWith('+') ||
        session_.reply().reply_text().startsWith(QLatin1String("+OK"))) {
        return asked;
    }
    return session_.sendMsg(QString::fromLatin1(response));
}

// A signed-in account on a server that offers no TLS: its token would travel
// in clear, so nothing is sent, and no password either.
MailboxReading Pop3Reader::clear_text_refused(const MailboxAccount& account) {
    log_.log_event(QStringLiteral("%1: the server offers no secure connection (port 995 or "
                                  "STLS), so the sign-in token of %2 was not sent and the "
                                  "account was not checked")
                       .arg(account.server, account.login));
    return MailboxReading::failed(Outcome::SignInFailed);
}

// USER goes alone, so that a refused login has no password sent after it.
// With PIPELINING, PASS then goes out in one write with the listing
// commands, whose replies follow its own; a refused password ends the
// dialogue there, and the replies after it are never read.
Pop3Reader::Login Pop3Reader::password_login(const MailboxAccount& account,
                                             const Capabilities& capabilities) {
    Login login;
    const ReplyAssembler& reply = session_.reply();
    const WaitResult user = session_.sendMsg(QStringLiteral("USER ") + account.login);
    if (user != WaitResult::Answered) {
        login.failed = unanswered(user, QStringLiteral("USER"));
        return login;
    }
    if (reply.reply_err()) {
        login.failed =
            MailboxReading::failed(Outcome::Refused, QStringLiteral("Error with username"));
        return login;
    }
    const QString pass = QStringLiteral("PASS ") + account.credential.secret;
    WaitResult result = WaitResult::Answered;
    if (capabilities.pipelining) {
        session_.begin_pipeline();
        result = session_.send_ahead(pass.toUtf8() + "\r\n" + listing_commands(capabilities));
        if (result == WaitResult::Answered) {
            result = session_.wait_next_reply();
        }
        login.listing_sent = true;
    } else {
        result = session_.sendMsg(pass);
    }
    if (result != WaitResult::Answered) {
        login.failed = unanswered(result, QStringLiteral("PASS"));
        return login;
    }
    if (capabilities.pipelining && !reply.well_framed()) {
        login.failed = broken_off({result, true, QStringLiteral("PASS")});
        return login;
    }
    if (reply.reply_err()) {
        login.failed =
            MailboxReading::failed(Outcome::Refused, QStringLiteral("Error with password"));
        return login;
    }
    login.signed_in = true;
    return login;
}

// Connects and waits for the greeting.
MailboxReading Pop3Reader::greet(const QString& server) {
    session_.connect_to(server);
    const WaitResult greeting = session_.wait_greeting();
    if (greeting == WaitResult::Overflowed || greeting == WaitResult::Ending) {
        return unanswered(greeting, QString());
    }
    if (greeting != WaitResult::Answered) {
        return MailboxReading::failed(Outcome::CannotConnect);
    }
    if (session_.reply().reply_err()) {
        return MailboxReading::failed(
            Outcome::Refused, QStringLiteral("An error occured trying to connect to server"));
    }
    return {};
}

// STLS, then the handshake when the server agrees to it.
WaitResult Pop3Reader::start_tls(const QString& server) {
    const WaitResult asked = session_.sendMsg(QStringLiteral("STLS"));
    if (asked != WaitResult::Answered) {
        return asked;
    }
    if (session_.reply().reply_err()) {
        const QString reply =
            session_.reply().reply_text().split(QRegularExpression(QStringLiteral("[\r\n]")))[0];
        log_.log_event(tls_failure_log_line(
            server, QStringLiteral("the server refused STLS (%1)").arg(reply.left(200))));
        return WaitResult::NotConnected;
    }
    return session_.start_tls();
}

// Every header block of the mailbox, those the account's header cache holds
// taken from there. A cache that cannot be used is set aside: every block is
// then read from the server.
HeaderReading Pop3Reader::read_headers(const CacheOwner& owner, const Capabilities& capabilities,
                                       const MailboxListing& listing, MessageTable& messages) {
    const QString cache_path = header_cache_path(owner);
    if (!capabilities.uidl || cache_path.isEmpty()) {
        return read_header_blocks(session_, capabilities, listing, {}, messages);
    }
    retire_shared_header_cache(owner.server);
    const QHash<QString, CachedHeader> cached = header_cache(owner, cache_path);
    HeaderReading reading = read_header_blocks(session_, capabilities, listing, cached, messages);
    reading.cache_unchanged = reading.cache_unchanged && kept_caches_.contains(cache_path);
    return reading;
}

// The cache as the last check left it, unless its file changed since: a
// file that cannot be used is set aside, and every block is read anew.
QHash<QString, CachedHeader> Pop3Reader::header_cache(const CacheOwner& owner,
                                                      const QString& path) {
    const QFileInfo file(path);
    const auto kept = kept_caches_.constFind(path);
    if (kept != kept_caches_.cend() && file.exists() && file.size() == kept->file_size &&
        file.lastModified() == kept->modified) {
        return kept->messages;
    }
    kept_caches_.remove(path);
    QString problem;
    QHash<QString, CachedHeader> loaded = load_header_cache(path, owner, &problem);
    if (!problem.isEmpty()) {
        log_.log_event(QStringLiteral("%1: the header cache %2 was set aside (%3); every "
                                      "header block is read anew")
                           .arg(owner.server, path, problem));
        return {};
    }
    if (file.exists()) {
        kept_caches_.insert(path, {loaded, file.size(), file.lastModified(), false});
    }
    return loaded;
}

// The cache that every account of a server shared, written by an earlier
// version, would show one mailbox's senders for another's messages: it is
// removed, and each account reads its header blocks anew once.
void Pop3Reader::retire_shared_header_cache(const QString& server) {
    QFile shared(files_.path(shared_header_cache_file_name(server)));
    if (!shared.open(QIODevice::ReadOnly) || !is_shared_header_cache(shared.read(4096), server)) {
        return;
    }
    shared.close();
    if (shared.remove()) {
        log_.log_event(QStringLiteral("%1: the header cache %2, which every account of this "
                                      "server shared, was removed; each account keeps its own")
                           .arg(server, shared.fileName()));
    } else {
        log_.log_event(QStringLiteral("%1: the header cache %2, which every account of this "
                                      "server shared, is no longer read but cannot be removed: %3")
                           .arg(server, shared.fileName(), shared.errorString()));
    }
}

// After a complete reading: the cache holds the messages on the server now.
// One that says what the file already does is not written again; what the
// messages read as is kept with it for the next check.
void Pop3Reader::keep_header_cache(const CacheOwner& owner, const HeaderReading& reading) {
    const QString cache_path = header_cache_path(owner);
    if (!reading.unique_ids || cache_path.isEmpty()) {
        return;
    }
    if (!reading.cache_unchanged) {
        kept_caches_.remove(cache_path);
        const QString error =
            write_header_cache(cache_path, header_cache_content(owner, reading.cache));
        if (!error.isEmpty()) {
            log_.log_event(owner.server + QStringLiteral(": the header cache was not kept: ") +
                           error);
            return;
        }
        const QFileInfo file(cache_path);
        kept_caches_.insert(cache_path, {{}, file.size(), file.lastModified(), false});
    }
    KeptCache& kept = kept_caches_[cache_path];
    if (kept.displayed) {
        return;
    }
    kept.messages.clear();
    kept.messages.reserve(reading.cache.size());
    for (const CachedHeader& message : reading.cache) {
        kept.messages.insert(message.unique_id, message);
    }
    kept.displayed = true;
}

// Beside the seen-state file; empty when the server's name cannot name a file.
QString Pop3Reader::header_cache_path(const CacheOwner& owner) const {
    return unsafe_server_name_reason(owner.server).isEmpty()
               ? files_.path(header_cache_file_name(owner))
               : QString();
}

// A reading that broke off: a wait that ended otherwise, or replies out of
// step with the commands sent ahead. Nothing of it is kept.
MailboxReading Pop3Reader::broken_off(const BreakOff& stop) const {
    if (!stop.out_of_step) {
        return unanswered(stop.result, stop.command);
    }
    return MailboxReading::failed(
        Outcome::Abandoned,
        QStringLiteral("a reply came twice or a header block ended early, so nothing of this "
                       "reading was kept: the replies fell out of step with the commands sent "
                       "ahead at %1")
            .arg(stop.command));
}

// What a command that got no complete reply of its own did to the reading.
// An empty command stands for the greeting.
MailboxReading Pop3Reader::unanswered(WaitResult result, const QString& command) const {
    const QString reply = command.isEmpty() ? QStringLiteral("the greeting")
                                            : QStringLiteral("the reply to ") + command;
    switch (result) {
        case WaitResult::Ending:
            return MailboxReading::failed(Outcome::Ending);
        case WaitResult::TimedOut:
            return MailboxReading::failed(
                Outcome::Abandoned, QStringLiteral("no reply to %1 within %2 s")
                                        .arg(command, QString::number(reply_timeout_ms_ / 1000.0)));
        case WaitResult::Overflowed:
            return MailboxReading::failed(
                Outcome::Abandoned, reply + QStringLiteral(" grew past 1 MiB without ending"));
        case WaitResult::SendFailed:
            return MailboxReading::failed(
                Outcome::Abandoned,
                QStringLiteral("%1 could not be sent (%2)").arg(command, session_.send_failure()));
        default:
            break;
    }
    return MailboxReading::failed(
        Outcome::Abandoned,
        QStringLiteral("the connection closed before %1 was complete").arg(reply));
}

}  // namespace ostrel
