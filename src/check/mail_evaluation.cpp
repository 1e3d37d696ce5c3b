#include "check/mail_evaluation.h"

#include <QTextCursor>
#include <QTextEdit>

#include "core/data_files.h"
#include "core/date_time_text.h"
#include "core/event_log.h"
#include "notify/nota_form.h"
#include "notify/nota_manager.h"
#include "notify/search_matching.h"
#include "notify/seen_state.h"

namespace ostrel {

namespace {

const QString kEvaluationFailure = QStringLiteral("Fatal Err 005 ");
const QString kReportFailure = QStringLiteral("Fatal Err 004 ");

// A line break, " " + k, " - ", From, " - ", Subject for every entry the
// header parser filled. The breaks are line separators, which the box's
// plain text gives back as line feeds: a mailbox of thousands of messages
// then adds one paragraph rather than thousands, at a third of the cost.
QString header_trace(const MessageTable& messages, qint64 count) {
    QString trace;
    const qint64 last = qMin<qint64>(count, messages.size());
    for (qint64 k = 1; k <= last; ++k) {
        if (!messages.filled(k)) {
            continue;
        }
        const DisplayValues& shown = messages.display[k - 1];
        trace += QChar(QChar::LineSeparator);
        trace += QLatin1Char(' ');
        trace += QString::number(k);
        trace += QLatin1String(" - ");
        trace += shown.from;
        trace += QLatin1String(" - ");
        trace += shown.subject;
    }
    return trace;
}

// The hidden trace keeps no undo history: nobody edits it.
void append_trace(QTextEdit* text, const QString& lines) {
    text->setUndoRedoEnabled(false);
    QTextCursor cursor(text->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(lines);
}

// Where the server's seen state lives, or the reason it cannot be named.
struct SeenStateFile {
    QString path;
    QString unsafe_reason;
};

SeenStateFile seen_state_file(const DataFiles& files, const QString& server) {
    const QString reason = unsafe_server_name_reason(server);
    if (!reason.isEmpty()) {
        return {QString(), reason};
    }
    return {files.seen_state(server), QString()};
}

// Replaces the seen state with the messages on the server now; returns the
// failure's description, empty on success.
QString rewrite_seen_state(const AccountMail& mail, const SeenStateFile& file) {
    if (!file.unsafe_reason.isEmpty()) {
        return file.unsafe_reason;
    }
    return write_seen_state(file.path, seen_state_content(mail.messages, mail.count));
}

QString evaluate_new_mail(const DataFiles& files, EventLog& log, NotaManager& notes,
                          const AccountMail& mail) {
    const SeenStateFile file = seen_state_file(files, mail.server);
    SeenText seen;
    const QString load_error =
        file.unsafe_reason.isEmpty() ? load_seen_state(file.path, &seen) : file.unsafe_reason;
    if (!load_error.isEmpty()) {
        log.log_event(kEvaluationFailure + load_error);
        return {};
    }
    const NewMailResult result = detect_new_mail(seen, mail.messages, mail.count);
    if (result.new_count > 0) {
        if (NotaForm* nota = notes.new_nota(QStringLiteral("nota"))) {
            nota->show_new_mail(date_time_text(), result.new_count, mail.server,
                                result.senders_text);
        }
    }
    const QString write_error = rewrite_seen_state(mail, file);
    if (write_error.isEmpty()) {
        return {};
    }
    // Once new mail was reported, a failure is the report step's to log.
    if (result.new_count > 0) {
        return write_error;
    }
    log.log_event(kEvaluationFailure + write_error);
    return {};
}

void evaluate_search_words(const DataFiles& files, EventLog& log, NotaManager& notes,
                           const AccountMail& mail) {
    for (const SearchMatch& match : find_matches(mail.search_words, mail.messages, mail.count)) {
        if (NotaForm* nota = notes.new_nota(QStringLiteral("note"))) {
            const DisplayValues shown = mail.messages.shown(match.message);
            nota->show_match(match.word, shown.from, shown.subject, mail.server);
        }
    }
    const QString write_error = rewrite_seen_state(mail, seen_state_file(files, mail.server));
    if (!write_error.isEmpty()) {
        log.log_event(kEvaluationFailure + write_error);
    }
}

}  // namespace

QString evaluate_mail(const DataFiles& files, EventLog& log, NotaManager& notes,
                      const AccountMail& mail) {
    if (mail.search_words.isEmpty()) {
        return evaluate_new_mail(files, log, notes, mail);
    }
    evaluate_search_words(files, log, notes, mail);
    return {};
}

void process_headers(const DataFiles& files, EventLog& log, NotaManager& notes, QTextEdit* trace,
                     const AccountMail& mail) {
    append_trace(trace, header_trace(mail.messages, mail.count));
    const QString failure = evaluate_mail(files, log, notes, mail);
    if (!failure.isEmpty()) {
        log.log_event(kReportFailure + failure);
    }
}

}  // namespace ostrel
