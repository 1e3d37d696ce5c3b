#include "notify/seen_state.h"

#include <QFile>
#include <QSaveFile>

#include "core/date_time_text.h"

namespace ostrel {

namespace {

QString entry(const QStringList& column, qint64 k) {
    return k >= 1 && k <= column.size() ? column[k - 1] : QString();
}

}  // namespace

QString seen_text_from(const QByteArray& file_content) {
    QByteArray joined;
    joined.reserve(file_content.size());
    for (qsizetype i = 0; i < file_content.size(); ++i) {
        const char c = file_content[i];
        if (c == '\r') {
            if (i + 1 < file_content.size() && file_content[i + 1] == '\n') {
                ++i;
            }
            continue;
        }
        joined += c;
    }
    return QString::fromLatin1(joined);
}

NewMailResult detect_new_mail(const QString& seen_text, const MessageTable& messages,
                              qint64 count) {
    NewMailResult result;
    for (qint64 k = 1; k <= count; ++k) {
        const QString subject = entry(messages.msg_subject, k);
        const bool seen = !seen_text.isEmpty() && seen_text.contains(subject);
        if (seen) {
            continue;
        }
        ++result.new_count;
        const QString from = entry(messages.msg_from, k);
        if (!from.isEmpty()) {
            result.senders_text += QStringLiteral("\r\n") + messages.shown(k).sender;
        }
    }
    return result;
}

QByteArray seen_state_content(const MessageTable& messages, qint64 count) {
    QByteArray content;
    for (qint64 k = 1; k <= count; ++k) {
        content += date_time_text().toLatin1() + ' ' + entry(messages.msg_from, k).toLatin1() +
                   ' ' + entry(messages.msg_subject, k).toLatin1() + "\r\n";
    }
    return content;
}

QString load_seen_state(const QString& path, QString* seen_text) {
    QFile file(path);
    if (!file.exists()) {
        seen_text->clear();
        return {};
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    }
    *seen_text = seen_text_from(file.readAll());
    return {};
}

QString write_seen_state(const QString& path, const QByteArray& content) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    }
    file.write(content);
    // A flush that fails (a full disk) must keep the old file: commit()
    // alone would still put the short new one in its place.
    if (!file.flush()) {
        file.cancelWriting();
    }
    if (!file.commit()) {
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    }
    return {};
}

QString unsafe_server_name_reason(const QString& server) {
    if (server == QLatin1String(".") || server == QLatin1String("..")) {
        return QStringLiteral("the server name \"%1\" cannot name a seen-state file").arg(server);
    }
    for (const QChar c : server) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\')) {
            return QStringLiteral("the server name \"%1\" holds a path separator").arg(server);
        }
        if (c.category() == QChar::Other_Control) {
            return QStringLiteral("the server name holds a control character");
        }
    }
    return {};
}

}  // namespace ostrel
