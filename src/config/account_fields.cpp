#include "config/account_fields.h"

#include <QFile>

#include "core/data_files.h"
#include "core/line_split.h"
#include "core/whole_file.h"
#include "mail/mailbox_address.h"

namespace ostrel {

namespace {

const QString kSeparator = QStringLiteral("<>");

bool breaks_the_line(const QString& field) {
    return field.contains(kSeparator) || field.contains(QLatin1Char('\r')) ||
           field.contains(QLatin1Char('\n'));
}

}  // namespace

QString account_field_problem(const PopAccount& account) {
    for (const QString* field :
         {&account.server, &account.login, &account.password, &account.search_words}) {
        if (breaks_the_line(*field)) {
            return QStringLiteral("A field cannot hold \"<>\" or a line break.");
        }
    }
    const QString imap_problem = parse_mailbox_address(account.server).error;
    if (!imap_problem.isEmpty()) {
        return QStringLiteral("The server cannot be used: %1.").arg(imap_problem);
    }
    const QString unsafe = unsafe_server_name_reason(account.server);
    if (!unsafe.isEmpty()) {
        return QStringLiteral(
                   "The server name cannot hold \"/\", \"\\\" or control characters, and "
                   "cannot be \".\" or \"..\" (%1).")
            .arg(unsafe);
    }
    return {};
}

QString replace_account(const QString& path, const QString& key, const PopAccount& account) {
    QByteArray content;
    QFile source(path);
    if (source.exists()) {
        if (!source.open(QIODevice::ReadOnly)) {
            return file_failure(QStringLiteral("cannot open"), source);
        }
        content = source.readAll();
        source.close();
    }

    // The lines that stay keep their bytes; only the old account's lines go.
    QByteArray rewritten;
    for (const QByteArray& line : split_line_bytes(content)) {
        if (!line_is_account(line, key)) {
            rewritten += line + "\r\n";
        }
    }
    rewritten += (account_line(account) + QStringLiteral("\r\n")).toUtf8();

    return replace_whole_file(path, rewritten, QStringLiteral("cannot rewrite"));
}

}  // namespace ostrel
