#include "notify/seen_state.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <cstring>

#include "core/date_time_text.h"
#include "core/whole_file.h"

namespace ostrel {

namespace {

// The subjects of the arrived messages that stand whole at the end of a line
// of the seen text, after a blank or as the whole line: where a message's own
// line holds its subject. Each one occurs in the seen text, so it is seen
// without searching the whole text for it.
QSet<QStringView> subjects_at_line_ends(const SeenText& seen, const MessageTable& messages,
                                        qint64 last) {
    QSet<QStringView> wanted;
    QSet<qsizetype> lengths;
    for (qint64 k = 1; k <= last; ++k) {
        if (messages.filled(k)) {
            wanted.insert(messages.msg_subject[k - 1]);
            lengths.insert(messages.msg_subject[k - 1].size());
        }
    }
    QSet<QStringView> found;
    const QStringView text(seen.text);
    qsizetype start = 0;
    for (const qsizetype end : seen.line_ends) {
        for (qsizetype p = start; p < end;) {
            if (lengths.contains(end - p) && wanted.contains(text.sliced(p, end - p))) {
                found.insert(text.sliced(p, end - p));
            }
            const qsizetype blank = text.indexOf(QLatin1Char(' '), p);
            if (blank < 0 || blank >= end) {
                break;
            }
            p = blank + 1;
        }
        start = end;
    }
    return found;
}

}  // namespace

SeenText seen_text_from(const QByteArray& file_content) {
    QByteArray joined;
    joined.reserve(file_content.size());
    SeenText seen;
    const char* const begin = file_content.constData();
    const char* const end = begin + file_content.size();
    for (const char* line = begin; line < end;) {
        const void* found = std::memchr(line, '\r', static_cast<size_t>(end - line));
        const char* line_end = found != nullptr ? static_cast<const char*>(found) : end;
        joined.append(line, line_end - line);
        seen.line_ends.append(joined.size());
        if (line_end == end) {
            break;
        }
        line = line_end + 1;
        if (line < end && *line == '\n') {
            ++line;
        }
    }
    seen.text = QString::fromLatin1(joined);
    return seen;
}

// Most subjects of a mailbox read again stand at the end of their own line;
// only the others are searched for in the whole text, each distinct one once.
NewMailResult detect_new_mail(const SeenText& seen, const MessageTable& messages, qint64 count) {
    NewMailResult result;
    const qint64 last = qMin<qint64>(count, messages.size());
    const QSet<QStringView> at_line_ends =
        seen.text.isEmpty() ? QSet<QStringView>() : subjects_at_line_ends(seen, messages, last);
    QHash<QStringView, bool> searched;
    for (qint64 k = 1; k <= last; ++k) {
        if (!messages.filled(k)) {
            continue;
        }
        const QString& subject = messages.msg_subject[k - 1];
        bool is_seen = !seen.text.isEmpty() && at_line_ends.contains(subject);
        if (!is_seen && !seen.text.isEmpty()) {
            const auto known = searched.constFind(subject);
            is_seen = known != searched.cend() ? *known : seen.text.contains(subject);
            searched.insert(subject, is_seen);
        }
        if (is_seen) {
            continue;
        }
        ++result.new_count;
        const QString& from = messages.msg_from[k - 1];
        if (!from.isEmpty()) {
            result.senders_text += QStringLiteral("\r\n") + messages.shown(k).sender;
        }
    }
    return result;
}

// The date and time are taken anew for every line; rendering them again only
// when the second changes keeps a large mailbox's rewrite quick.
QByteArray seen_state_content(const MessageTable& messages, qint64 count) {
    QByteArray content;
    qint64 rendered_second = -1;
    QByteArray moment;
    const qint64 last = qMin<qint64>(count, messages.size());
    for (qint64 k = 1; k <= last; ++k) {
        if (!messages.filled(k)) {
            continue;
        }
        const qint64 second = QDateTime::currentMSecsSinceEpoch() / 1000;
        if (second != rendered_second) {
            rendered_second = second;
            moment = date_time_text(QDateTime::fromSecsSinceEpoch(second)).toUtf8();
        }
        content += moment + ' ' + messages.msg_from[k - 1].toLatin1() + ' ' +
                   messages.msg_subject[k - 1].toLatin1() + "\r\n";
    }
    return content;
}

QString load_seen_state(const QString& path, SeenText* seen) {
    QFile file(path);
    if (!file.exists()) {
        *seen = SeenText();
        return {};
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    }
    *seen = seen_text_from(file.readAll());
    return {};
}

QString write_seen_state(const QString& path, const QByteArray& content) {
    return replace_whole_file(path, content);
}

}  // namespace ostrel
