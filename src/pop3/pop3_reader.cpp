#include "pop3/pop3_reader.h"

#include <QRegularExpression>
#include <cmath>
#include <limits>

#include "core/event_log.h"
#include "core/numeric_value.h"
#include "net/tls_policy.h"
#include "pop3/header_cache.h"
#include "pop3/header_reader.h"

namespace ostrel {

namespace {

using Outcome = MailboxReading::Outcome;

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
    MailboxReading reading = dialogue(account, count_heard);
    session_.close();
    return reading;
}

// The dialogue with one server. The mailbox counts as read only when every
// command got its own complete reply.
MailboxReading Pop3Reader::dialogue(const MailboxAccount& account, const CountHeard& count_heard) {
    const QString& server = account.server;
    MailboxReading greeted = greet(server);
    if (greeted.outcome != Outcome::Read) {
        return greeted;
    }
    Capabilities capabilities;
    const WaitResult asked = capabilities_.ask(session_, server, &capabilities);
    if (asked == WaitResult::TimedOut) {
        // A CAPA reply that came late would be taken for the reply to USER,
        // so this stream cannot be trusted: start again on a new connection,
        // without CAPA, which the probe now knows not to ask this server.
        session_.close();
        greeted = greet(server);
        if (greeted.outcome != Outcome::Read) {
            return greeted;
        }
    } else if (asked != WaitResult::Answered) {
        return unanswered(asked, QStringLiteral("CAPA"));
    }
    const WaitResult secured =
        security_.secure(server, capabilities.stls, [this, &server] { return start_tls(server); });
    if (secured == WaitResult::NotConnected) {
        return MailboxReading::failed(Outcome::CannotConnect);
    }
    if (secured != WaitResult::Answered) {
        return unanswered(secured, QStringLiteral("STLS"));
    }
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
