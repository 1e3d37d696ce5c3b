#include "pop3/check_driver.h"

#include <QTextEdit>
#include <QTimer>
#include <cmath>
#include <limits>

#include "config/accounts_file.h"
#include "core/form1.h"
#include "core/numeric_value.h"
#include "notify/mail_evaluation.h"
#include "notify/nota_manager.h"
#include "pop3/header_cutter.h"
#include "pop3/pop3_session.h"

namespace ostrel {

// How one account's visit ended.
struct AccountOutcome {
    enum Kind { Done, CannotConnect, Refused, Failed, Ending } kind = Done;
    QString text;  // the message of Refused, the description of Failed
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

Outcome failed(const QString& description) {
    return {Outcome::Failed, description};
}

QString overflow_description(const QString& server) {
    return QStringLiteral(
               " a reply from %1 grew past 1 MiB without ending; the account was abandoned")
        .arg(server);
}

}  // namespace

CheckDriver::CheckDriver(Form1& form)
    : QObject(&form), form_(form), session_(new Pop3Session(form)) {}

CheckDriver::~CheckDriver() = default;

void CheckDriver::executa2() {
    if (running_) {
        return;
    }
    running_ = true;
    run_check();
    running_ = false;
    emit form_.check_finished();
}

void CheckDriver::run_check() {
    AppState& state = form_.state();
    state.msg_count = 0;
    form_.Timer2->start();
    form_.Timer1->stop();
    form_.Text1->clear();

    accounts_.setFileName(form_.files().accounts());
    if (!accounts_.open(QIODevice::ReadOnly)) {
        failure_exit(QStringLiteral(" cannot open %1: %2")
                         .arg(accounts_.fileName(), accounts_.errorString()));
        return;
    }
    const QStringList lines = split_account_lines(accounts_.readAll());
    for (int n = 0; n < lines.size(); ++n) {
        const QStringList fields = split_account_fields(lines[n]);
        const QString where = QStringLiteral(" line %1 of %2").arg(n + 1).arg(accounts_.fileName());
        if (fields.isEmpty()) {
            failure_exit(where + QStringLiteral(" is empty"));
            return;
        }
        state.server = fields[0];
        if (fields.size() < 4) {
            failure_exit(where + QStringLiteral(" holds fewer than four fields"));
            return;
        }
        state.search_words = fields[3];
        if (holds_line_break(fields[1]) || holds_line_break(fields[2])) {
            failure_exit(where +
                         QStringLiteral(": the login or password holds a line break, "
                                        "so nothing was sent to ") +
                         state.server);
            return;
        }
        const Outcome outcome = check_account(fields);
        switch (outcome.kind) {
            case Outcome::Done:
                continue;
            case Outcome::CannotConnect:
                failed_connection_exit();
                return;
            case Outcome::Refused:
                message_exit(outcome.text);
                return;
            case Outcome::Failed:
                failure_exit(outcome.text);
                return;
            case Outcome::Ending:
                return;
        }
    }
    restore_after_check();
}

AccountOutcome CheckDriver::check_account(const QStringList& fields) {
    AppState& state = form_.state();
    const QString& server = state.server;
    session_->connect_to(server);
    const WaitResult greeting = session_->wait_greeting();
    if (greeting == WaitResult::Ending) {
        return {Outcome::Ending, {}};
    }
    if (greeting == WaitResult::Refused) {
        return {Outcome::CannotConnect, {}};
    }
    const ReplyAssembler& reply = session_->reply();
    if (state.timed_out) {
        return {Outcome::CannotConnect, {}};
    }
    const struct {
        QString command;
        QString refusal;
    } login[] = {
        {QString(), QStringLiteral("An error occured trying to connect to server")},
        {QStringLiteral("USER ") + fields[1], QStringLiteral("Error with username")},
        {QStringLiteral("PASS ") + fields[2], QStringLiteral("Error with password")},
        {QStringLiteral("STAT"), QString()},
    };
    for (const auto& step : login) {
        if (!step.command.isEmpty() && session_->sendMsg(step.command) == WaitResult::Ending) {
            return {Outcome::Ending, {}};
        }
        if (reply.overflowed()) {
            return failed(overflow_description(server));
        }
        if (!step.refusal.isEmpty() && reply.reply_err()) {
            return {Outcome::Refused, step.refusal};
        }
    }
    state.msg_count = stat_count(reply.reply_text());
    if (state.debug_mode) {
        form_.notes().show_total(QStringLiteral("total ") + server + QLatin1Char(' ') +
                                 QString::number(state.msg_count));
    }
    const Outcome headers = read_headers(state.msg_count);
    if (headers.kind != Outcome::Done) {
        return headers;
    }
    process_headers(form_);
    session_->close();
    return {};
}

// The TOP loop. Each turn first stores the block that the previous turn's
// command brought, then asks for the next one; a block is stored only when it
// is the complete reply to its own command.
AccountOutcome CheckDriver::read_headers(qint64 count) {
    form_.state().messages.clear();
    const ReplyAssembler& reply = session_->reply();
    bool have_block = false;
    for (qint64 i = 1; i <= count + 1; ++i) {
        session_->set_reply_mode(ReplyMode::Top);
        if (have_block) {
            mete_arre(reply.reply_text(), i);
        }
        have_block = false;
        if (i > count) {
            break;
        }
        const WaitResult sent = session_->sendMsg(QStringLiteral("TOP %1 0").arg(i));
        if (sent == WaitResult::Ending) {
            return {Outcome::Ending, {}};
        }
        if (sent == WaitResult::SendFailed) {
            break;
        }
        if (reply.overflowed()) {
            return failed(overflow_description(form_.state().server));
        }
        have_block = reply.has_block();
    }
    session_->set_reply_mode(ReplyMode::SingleLine);
    return {};
}

// Stores the header block of message num - 1.
void CheckDriver::mete_arre(const QString& texto, qint64 num) {
    const qint64 k = num - 1;
    const HeaderValues values = cut_headers(texto);
    form_.state().messages.store(static_cast<int>(k - 1), k, values.from, values.subject,
                                 values.display);
}

// Between checks: Timer1 running, no blink, caption "Get Mail", the normal
// image, the socket and the accounts file closed.
void CheckDriver::restore_after_check() {
    accounts_.close();
    session_->close();
    form_.Timer2->stop();
    form_.Timer1->start();
    form_.setWindowTitle(QStringLiteral("Get Mail"));
    form_.set_icon(TrayImage::Normal);
    form_.refresh_tray_icon();
}

void CheckDriver::failed_connection_exit() {
    restore_after_check();
    form_.state().timed_out = false;
    form_.log_event(QStringLiteral("Can\u00b4t connect to Pop3 ") + form_.state().server);
}

// The server refused the greeting, the login or the password. The check ends
// there, leaving everything as between checks.
void CheckDriver::message_exit(const QString& text) {
    session_->close();
    form_.prompt()(text, QString(), PromptIcon::None, PromptButtons::Ok);
    form_.state().timed_out = false;
    restore_after_check();
}

void CheckDriver::failure_exit(const QString& description) {
    form_.log_event(QStringLiteral("Err 001") + description);
    form_.state().timed_out = false;
    restore_after_check();
}

}  // namespace ostrel
