#include "notify/mail_evaluation.h"

#include <QLabel>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>

#include "core/date_time_text.h"
#include "notify/elided_line.h"
#include "notify/nota_form.h"
#include "notify/nota_manager.h"
#include "notify/search_matching.h"
#include "notify/seen_state.h"

namespace ostrel {

namespace {

const QString kEvaluationFailure = QStringLiteral("Fatal Err 005 ");
const QString kReportFailure = QStringLiteral("Fatal Err 004 ");

// CR LF, " " + k, " - ", From, " - ", Subject for every entry the header
// parser filled.
QString header_trace(const MessageTable& messages, qint64 count) {
    QString trace;
    const qint64 last = qMin<qint64>(count, messages.size());
    for (qint64 k = 1; k <= last; ++k) {
        if (!messages.filled(k)) {
            continue;
        }
        const DisplayValues shown = messages.shown(k);
        trace += QStringLiteral("\r\n ") + QString::number(k) + QStringLiteral(" - ") + shown.from +
                 QStringLiteral(" - ") + shown.subject;
    }
    return trace;
}

void append_trace(QTextEdit* text, const QString& lines) {
    QTextCursor cursor(text->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(lines);
}

// Where the server's seen state lives, or the reason it cannot be named.
struct SeenStateFile {
    QString path;
    QString unsafe_reason;
};

SeenStateFile seen_state_file(const AppContext& context) {
    const QString& server = context.state.server;
    const QString reason = unsafe_server_name_reason(server);
    if (!reason.isEmpty()) {
        return {QString(), reason};
    }
    return {context.files.seen_state(server), QString()};
}

// Replaces the seen state with the messages on the server now; returns the
// failure's description, empty on success.
QString rewrite_seen_state(const AppState& state, const SeenStateFile& file) {
    if (!file.unsafe_reason.isEmpty()) {
        return file.unsafe_reason;
    }
    return write_seen_state(file.path, seen_state_content(state.messages, state.msg_count));
}

void show_new_mail(const AppState& state, NotaManager& notes, int new_count) {
    NotaForm* nota = notes.new_nota(QStringLiteral("nota"));
    if (nota == nullptr) {
        return;
    }
    nota->Label1->setText(date_time_text());
    nota->Label2->setText(QStringLiteral("You have  ") + QString::number(new_count) +
                          QStringLiteral(" new message(s)"));
    nota->Label3->setText(state.server);
    nota->Label5->setText(state.senders_text);
    nota->Command1->setVisible(true);
}

void show_match(const AppState& state, NotaManager& notes, const SearchMatch& match) {
    NotaForm* nota = notes.new_nota(QStringLiteral("note"));
    if (nota == nullptr) {
        return;
    }
    nota->Label1->setText(QStringLiteral("One message Match: ") + match.word);
    const DisplayValues shown = state.messages.shown(match.message);
    set_elided_text(nota->Label2, QStringLiteral("From: ") + shown.from, match.word);
    set_elided_text(nota->Label3, QStringLiteral("Subject: ") + shown.subject, match.word);
    nota->Label4->setText(state.server);
    nota->Command1->setVisible(false);
}

QString evaluate_new_mail(const AppContext& context, NotaManager& notes) {
    AppState& state = context.state;
    const SeenStateFile file = seen_state_file(context);
    SeenText seen;
    const QString load_error =
        file.unsafe_reason.isEmpty() ? load_seen_state(file.path, &seen) : file.unsafe_reason;
    if (!load_error.isEmpty()) {
        context.log.log_event(kEvaluationFailure + load_error);
        return {};
    }
    const NewMailResult result = detect_new_mail(seen, state.messages, state.msg_count);
    state.senders_text = result.senders_text;
    if (result.new_count > 0) {
        show_new_mail(state, notes, result.new_count);
    }
    const QString write_error = rewrite_seen_state(state, file);
    if (write_error.isEmpty()) {
        return {};
    }
    // Once new mail was reported, a failure is the report step's to log.
    if (result.new_count > 0) {
        return write_error;
    }
    context.log.log_event(kEvaluationFailure + write_error);
    return {};
}

void evaluate_search_words(const AppContext& context, NotaManager& notes) {
    const AppState& state = context.state;
    for (const SearchMatch& match :
         find_matches(state.search_words, state.messages, state.msg_count)) {
        show_match(state, notes, match);
    }
    const QString write_error = rewrite_seen_state(state, seen_state_file(context));
    if (!write_error.isEmpty()) {
        context.log.log_event(kEvaluationFailure + write_error);
    }
}

}  // namespace

QString evaluate_mail(const AppContext& context, NotaManager& notes) {
    if (context.state.search_words.isEmpty()) {
        return evaluate_new_mail(context, notes);
    }
    evaluate_search_words(context, notes);
    return {};
}

void process_headers(const AppContext& context, NotaManager& notes, QTextEdit* trace) {
    AppState& state = context.state;
    append_trace(trace, header_trace(state.messages, state.msg_count));
    const QString failure = evaluate_mail(context, notes);
    if (!failure.isEmpty()) {
        context.log.log_event(kReportFailure + failure);
        return;
    }
    state.messages.clear();
    state.msg_count = 0;
}

}  // namespace ostrel
