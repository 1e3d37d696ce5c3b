#include "check/check_driver.h"

#include <QTextEdit>
#include <QTimer>
#include <cmath>
#include <limits>

#include "check/mail_evaluation.h"
#include "config/accounts_file.h"
#include "config/password_store.h"
#include "core/numeric_value.h"
#include "notify/nota_manager.h"
#include "notify/seen_state.h"
#include "pop3/header_reader.h"
#include "pop3/pop3_session.h"

namespace ostrel {

// How one account's visit ended.
struct AccountOutcome {
    enum Kind { Done, CannotConnect, Refused, Abandoned, Ending } kind = Done;
    QString text;  // the message of Refused, what happened for Abandoned
};

namespace {

using Outcome = AccountOutcome;

bool holds_line_break(const QString& text) {
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

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

const QString kStateKept = QStringLiteral("; its seen state was left as it was");

}  // namespace

CheckDriver::CheckDriver(const AppContext& context, NotaManager& notes, PasswordStore& passwords,
                         CheckControls controls, QObject* parent)
    : QObject(parent),
      context_(context),
      notes_(notes),
      passwords_(passwords),
      controls_(std::move(controls)),
      session_(new Pop3Session(controls_.Timer3, context.state, context.log, this)),
      security_(context, *session_) {}

CheckDriver::~CheckDriver() = default;

void CheckDriver::executa2() {
    if (running_) {
        return;
    }
    running_ = true;
    run_check();
    running_ = false;
    emit check_finished();
}

void CheckDriver::run_check() {
    AppState& state = context_.state;
    state.msg_count = 0;
    controls_.Timer2->start();
    controls_.Timer1->stop();
    controls_.Text1->clear();

    accounts_.setFileName(context_.files.accounts());
    if (!accounts_.open(QIODevice::ReadOnly)) {
        failure_exit(QStringLiteral(" cannot open %1: %2")
                         .arg(accounts_.fileName(), accounts_.errorString()));
        return;
    }
    const QStringList lines = split_account_lines(accounts_.readAll());
    for (int n = 0; n < lines.size(); ++n) {
        if (!visit_account(n + 1, lines[n])) {
            return;
        }
    }
    restore_after_check();
}

// One line of the accounts file. Whatever goes wrong with it is logged (or,
// for a refused login, shown) and ends this account only. Returns false when
// the program is ending.
bool CheckDriver::visit_account(int line_number, const QString& line) {
    AppState& state = context_.state;
    const QStringList fields = split_account_fields(line);
    const QString where =
        QStringLiteral("Err 001 line %1 of %2").arg(line_number).arg(accounts_.fileName());
    if (fields.isEmpty()) {
        context_.log.log_event(where + QStringLiteral(" is empty"));
        return true;
    }
    state.server = fields[0];
    if (fields.size() < 4) {
        context_.log.log_event(where + QStringLiteral(" holds fewer than four fields"));
        return true;
    }
    state.search_words = fields[3];
    QStringList account = fields;
    if (account[2].isEmpty()) {
        // The accounts editor keeps the password in the keyring and leaves
        // the field empty. Without it the account is not visited at all.
        const QString key = keyring_key(account[0], account[1]);
        const KeyringResult stored = passwords_.read(key);
        if (!stored.done()) {
            context_.log.log_event(state.server + QStringLiteral(": the password of ") + key +
                                   QStringLiteral(" was not read from the keyring (") +
                                   stored.reason() +
                                   QStringLiteral("), so the account was not checked"));
            return true;
        }
        account[2] = stored.password;
    }
    if (holds_line_break(account[1]) || holds_line_break(account[2])) {
        context_.log.log_event(where +
                               QStringLiteral(": the login or password holds a line break, "
                                              "so nothing was sent to ") +
                               state.server);
        return true;
    }
    const Outcome outcome = check_account(account);
    session_->close();
    switch (outcome.kind) {
        case Outcome::Done:
            break;
        case Outcome::Ending:
            return false;
        case Outcome::CannotConnect:
            context_.log.log_event(QStringLiteral("Can\u00b4t connect to Pop3 ") + state.server);
            break;
        case Outcome::Refused:
            context_.prompt(outcome.text, QString(), PromptIcon::None, PromptButtons::Ok);
            break;
        case Outcome::Abandoned:
            context_.log.log_event(state.server + QStringLiteral(": ") + outcome.text + kStateKept);
            break;
    }
    return true;
}

// The dialogue with one server. The account is evaluated only when every
// command got its own complete reply; anything else leaves it unevaluated.
AccountOutcome CheckDriver::check_account(const QStringList& fields) {
    AppState& state = context_.state;
    Outcome greeted = greet();
    if (greeted.kind != Outcome::Done) {
        return greeted;
    }
    Capabilities capabilities;
    const WaitResult asked = capabilities_.ask(*session_, state.server, &capabilities);
    if (asked == WaitResult::TimedOut) {
        // A CAPA reply that came late would be taken for the reply to USER,
        // so this stream cannot be trusted: start again on a new connection,
        // without CAPA, which the probe now knows not to ask this server.
        session_->close();
        greeted = greet();
        if (greeted.kind != Outcome::Done) {
            return greeted;
        }
    } else if (asked != WaitResult::Answered) {
        return unanswered(asked, QStringLiteral("CAPA"));
    }
    const WaitResult secured = security_.secure(capabilities.stls);
    if (secured == WaitResult::NotConnected) {
        return {Outcome::CannotConnect, {}};
    }
    if (secured != WaitResult::Answered) {
        return unanswered(secured, QStringLiteral("STLS"));
    }
    const ReplyAssembler& reply = session_->reply();
    const struct {
        QString command;
        QString shown;  // the command as a log line may name it
        QString refusal;
    } login[] = {
        {QStringLiteral("USER ") + fields[1], QStringLiteral("USER"),
         QStringLiteral("Error with username")},
        {QStringLiteral("PASS ") + fields[2], QStringLiteral("PASS"),
         QStringLiteral("Error with password")},
        {QStringLiteral("STAT"), QStringLiteral("STAT"), QString()},
    };
    for (const auto& step : login) {
        const WaitResult result = session_->sendMsg(step.command);
        if (result != WaitResult::Answered) {
            return unanswered(result, step.shown);
        }
        if (!step.refusal.isEmpty() && reply.reply_err()) {
            return {Outcome::Refused, step.refusal};
        }
    }
    state.msg_count = stat_count(reply.reply_text());
    if (state.debug_mode) {
        notes_.show_total(QStringLiteral("total ") + state.server + QLatin1Char(' ') +
                          QString::number(state.msg_count));
    }
    const HeaderReading reading = read_headers(state.msg_count, capabilities);
    if (reading.result != WaitResult::Answered) {
        return unanswered(reading.result, reading.command);
    }
    if (!reading.refused_run_end.isEmpty()) {
        context_.log.log_event(QStringLiteral("%1: %2 TOP commands in a row were refused, the last "
                                              "%3; the rest of the %4 messages it claims were not "
                                              "read")
                                   .arg(state.server)
                                   .arg(kRefusedTopRun)
                                   .arg(reading.refused_run_end)
                                   .arg(state.msg_count));
    }
    state.msg_count = reading.count;
    process_headers(context_, notes_, controls_.Text1);
    keep_header_cache(reading);
    return {};
}

// Connects and waits for the greeting.
AccountOutcome CheckDriver::greet() {
    session_->connect_to(context_.state.server);
    const WaitResult greeting = session_->wait_greeting();
    if (greeting == WaitResult::Overflowed || greeting == WaitResult::Ending) {
        return unanswered(greeting, QString());
    }
    if (greeting != WaitResult::Answered) {
        return {Outcome::CannotConnect, {}};
    }
    if (session_->reply().reply_err()) {
        return {Outcome::Refused, QStringLiteral("An error occured trying to connect to server")};
    }
    return {};
}

// Every header block of the mailbox, those the server's header cache holds
// taken from there. A cache that cannot be used is set aside: every block is
// then read from the server.
HeaderReading CheckDriver::read_headers(qint64 count, const Capabilities& capabilities) {
    AppState& state = context_.state;
    QHash<QString, HeaderFields> cached;
    const QString cache_path = header_cache_path();
    if (capabilities.uidl && !cache_path.isEmpty()) {
        QString problem;
        cached = load_header_cache(cache_path, state.server, &problem);
        if (!problem.isEmpty()) {
            context_.log.log_event(
                QStringLiteral("%1: the header cache %2 was set aside (%3); every "
                               "header block is read anew")
                    .arg(state.server, cache_path, problem));
        }
    }
    return read_header_blocks(*session_, capabilities, count, cached, state.messages);
}

// After a complete reading: the cache holds the messages on the server now.
void CheckDriver::keep_header_cache(const HeaderReading& reading) {
    const QString cache_path = header_cache_path();
    if (!reading.unique_ids || cache_path.isEmpty()) {
        return;
    }
    const QString& server = context_.state.server;
    const QString error =
        write_header_cache(cache_path, header_cache_content(server, reading.cache));
    if (!error.isEmpty()) {
        context_.log.log_event(server + QStringLiteral(": the header cache was not kept: ") +
                               error);
    }
}

// Beside the seen-state file; empty when the server's name cannot name a file.
QString CheckDriver::header_cache_path() const {
    const QString& server = context_.state.server;
    return unsafe_server_name_reason(server).isEmpty()
               ? context_.files.path(header_cache_file_name(server))
               : QString();
}

// What a command that got no complete reply of its own did to the account.
// An empty command stands for the greeting.
AccountOutcome CheckDriver::unanswered(WaitResult result, const QString& command) const {
    const QString reply = command.isEmpty() ? QStringLiteral("the greeting")
                                            : QStringLiteral("the reply to ") + command;
    switch (result) {
        case WaitResult::Ending:
            return {Outcome::Ending, {}};
        case WaitResult::TimedOut:
            return {Outcome::Abandoned,
                    QStringLiteral("no reply to %1 within %2 s")
                        .arg(command, QString::number(controls_.Timer3->interval() / 1000.0))};
        case WaitResult::Overflowed:
            return {Outcome::Abandoned, reply + QStringLiteral(" grew past 1 MiB without ending")};
        case WaitResult::SendFailed:
            return {
                Outcome::Abandoned,
                QStringLiteral("%1 could not be sent (%2)").arg(command, session_->send_failure())};
        default:
            break;
    }
    return {Outcome::Abandoned,
            QStringLiteral("the connection closed before %1 was complete").arg(reply)};
}

// Between checks: Timer1 running, no blink, caption "Get Mail", the normal
// image, the socket and the accounts file closed.
void CheckDriver::restore_after_check() {
    accounts_.close();
    session_->close();
    controls_.Timer2->stop();
    controls_.Timer1->start();
    controls_.set_caption(QStringLiteral("Get Mail"));
    controls_.show_image(TrayImage::Normal);
}

// The accounts file cannot be read: the check ends.
void CheckDriver::failure_exit(const QString& description) {
    context_.log.log_event(QStringLiteral("Err 001") + description);
    restore_after_check();
}

}  // namespace ostrel
