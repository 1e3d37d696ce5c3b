#include "pop3/pop3_reader.h"

#include <QRegularExpression>
#include <cmath>
#include <limits>

#include "auth/sasl.h"
#include "auth/token_endpoint.h"
#include "core/event_log.h"
#include "core/numeric_value.h"
#include "net/server_address.h"
#include "net/tls_policy.h"
#include "pop3/header_cache.h"
#include "pop3/header_reader.h"

namespace ostrel {

namespace {

using Outcome = MailboxReading::Outcome;

// A POP3 command line may hold 255 octets, its CR LF included (RFC 2449).
constexpr qsizetype kMaxCommandLine = 255;

// The message count of a STAT reply: the word after the first space, read
// by the numeric rule. No space gives 0.
qint64 stat_count(const QString& reply) {
    const qsizetype space = reply.indexOf(QLatin1Char(' '));
    if (space < 0) {
        return 0;
    }
    qsizetype end = space + 1;
    while (end < reply.size() && reply[end] != QLatin1Char(' ') &&
           reply[end] != QLatin1Char('\r') && reply[end] != QLatin1Char('\n')) {
        ++end;
    }
    const double value = std::round(numeric_value(reply.mid(space + 1, end - space - 1)));
    if (!(value > 0)) {
        return 0;
    }
    return value >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                    : static_cast<qint64>(value);
}

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
    token_refusal_.clear();
    MailboxReading reading = dialogue(account, count_heard);
    session_.close();
    if (token_refusal_.isEmpty()) {
        return reading;
    }
    // A refused token is renewed once and tried on a new connection: a
    // server may hang up after a refusal, or while the renewal waits for the
    // provider. Without a renewed token the renewal has said why.
    QString refused = QStringLiteral("%1: the sign-in token of %2 was refused");
    if (account.credential.renew) {
        const std::optional<QString> renewed = account.credential.renew();
        if (!renewed) {
            return reading;
        }
        MailboxAccount again = account;
        again.credential.secret = *renewed;
        token_refusal_.clear();
        reading = dialogue(again, count_heard);
        session_.close();
        if (token_refusal_.isEmpty()) {
            return reading;
        }
        refused += QStringLiteral(", and a renewed one too");
    }
    log_.log_event((refused + QStringLiteral(": %3; the account was not checked"))
                       .arg(account.server, account.login, token_refusal_));
    return reading;
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
    const MailboxReading signed_in =
        bearer ? bearer_login(account, capabilities) : password_login(account);
    if (signed_in.outcome != Outcome::Read) {
        return signed_in;
    }
    const ReplyAssembler& reply = session_.reply();
    const qint64 claimed = stat_count(reply.reply_text());
    if (count_heard) {
        count_heard(claimed);
    }
    MailboxReading reading;
    const HeaderReading headers = read_headers(server, claimed, capabilities, reading.messages);
    if (headers.result != WaitResult::Answered) {
        return unanswered(headers.result, headers.command);
    }
    if (!headers.refused_run_end.isEmpty()) {
        log_.log_event(QStringLiteral("%1: %2 TOP commands in a row were refused, the last %3; "
                                      "the rest of the %4 messages it claims were not read")
                           .arg(server)
                           .arg(kRefusedTopRun)
                           .arg(headers.refused_run_end)
                           .arg(claimed));
    }
    reading.count = headers.count;
    keep_header_cache(server, headers);
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

// USER, PASS and STAT: the reply to STAT is left in the session.
MailboxReading Pop3Reader::password_login(const MailboxAccount& account) {
    const ReplyAssembler& reply = session_.reply();
    const struct {
        QString command;
        QString shown;  // the command as a log line may name it
        QString refusal;
    } login[] = {
        {QStringLiteral("USER ") + account.login, QStringLiteral("USER"),
         QStringLiteral("Error with username")},
        {QStringLiteral("PASS ") + account.credential.secret, QStringLiteral("PASS"),
         QStringLiteral("Error with password")},
        {QStringLiteral("STAT"), QStringLiteral("STAT"), QString()},
    };
    for (const auto& step : login) {
        const WaitResult result = session_.sendMsg(step.command);
        if (result != WaitResult::Answered) {
            return unanswered(result, step.shown);
        }
        if (!step.refusal.isEmpty() && reply.reply_err()) {
            return MailboxReading::failed(Outcome::Refused, step.refusal);
        }
    }
    return {};
}

// AUTH with the account's bearer token over the secured connection (RFC 5034
// with OAUTHBEARER or XOAUTH2, as its listing over TLS names them), then
// STAT, whose reply is left in the session.
// A refusal is noted in token_refusal_ for read() to renew the token.
MailboxReading Pop3Reader::bearer_login(const MailboxAccount& account,
                                        const Capabilities& capabilities) {
    const QString& server = account.server;
    const std::optional<BearerMechanism> mechanism = choose_bearer_mechanism(capabilities.sasl);
    if (!mechanism) {
        log_.log_event(QStringLiteral("%1: the server offers no sign-in with a token (SASL "
                                      "OAUTHBEARER or XOAUTH2), so %2, which is signed in with "
                                      "its provider, was not checked; no password is sent for it")
                           .arg(server, account.login));
        return MailboxReading::failed(Outcome::SignInFailed);
    }
    const ServerAddress address = parse_server_address(server, kPop3Port);
    const WaitResult sent = send_bearer_token(
        QStringLiteral("AUTH ") + mechanism_name(*mechanism),
        bearer_initial_response(*mechanism, account.login, account.credential.secret, address.host,
                                address.port));
    if (sent != WaitResult::Answered) {
        return unanswered(sent, QStringLiteral("AUTH"));
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
        return MailboxReading::failed(Outcome::SignInFailed);
    }
    const WaitResult stat = session_.sendMsg(QStringLiteral("STAT"));
    return stat == WaitResult::Answered ? MailboxReading()
                                        : unanswered(stat, QStringLiteral("STAT"));
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

// Every header block of the mailbox, those the server's header cache holds
// taken from there. A cache that cannot be used is set aside: every block is
// then read from the server.
HeaderReading Pop3Reader::read_headers(const QString& server, qint64 count,
                                       const Capabilities& capabilities, MessageTable& messages) {
    QHash<QString, HeaderFields> cached;
    const QString cache_path = header_cache_path(server);
    if (capabilities.uidl && !cache_path.isEmpty()) {
        QString problem;
        cached = load_header_cache(cache_path, server, &problem);
        if (!problem.isEmpty()) {
            log_.log_event(QStringLiteral("%1: the header cache %2 was set aside (%3); every "
                                          "header block is read anew")
                               .arg(server, cache_path, problem));
        }
    }
    return read_header_blocks(session_, capabilities, count, cached, messages);
}

// After a complete reading: the cache holds the messages on the server now.
void Pop3Reader::keep_header_cache(const QString& server, const HeaderReading& reading) {
    const QString cache_path = header_cache_path(server);
    if (!reading.unique_ids || cache_path.isEmpty()) {
        return;
    }
    const QString error =
        write_header_cache(cache_path, header_cache_content(server, reading.cache));
    if (!error.isEmpty()) {
        log_.log_event(server + QStringLiteral(": the header cache was not kept: ") + error);
    }
}

// Beside the seen-state file; empty when the server's name cannot name a file.
QString Pop3Reader::header_cache_path(const QString& server) const {
    return unsafe_server_name_reason(server).isEmpty() ? files_.path(header_cache_file_name(server))
                                                       : QString();
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
