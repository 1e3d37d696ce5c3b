#include "config/account_fields.h"

#include <QFile>

#include "core/data_files.h"
#include "core/line_split.h"
#include "core/whole_file.h"

namespace ostrel {

namespace {

const QString kSeparator = QStringLiteral("<>");

bool breaks_the_line(const QString& field) {
    return field.contains(kSeparator) || field.contains(QLatin1Char('\r')) ||
           field.contains(QLatin1Char('\n'));
}

QString describe(const QString& what, const QFileDevice& file) {
    return QStringLiteral("%1 %2: %3").arg(what, file.fileName(), file.errorString());
}

}  // namespace

QString account_field_problem(const PopAccount& account) {
    for (const QString* field :
         {&account.server, &account.login, &account.password, &account.search_words}) {
        if (breaks_the_line(*field)) {
            return QStringLiteral("A field cannot hold \"<>\" or a line break.");
        }
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
    const int cut = key.indexOf(kSeparator);
    const QString server = key.left(cut);
    const QString login = cut < 0 ? QString() : key.mid(cut + kSeparator.size());

    QByteArray content;
    QFile source(path);
    if (source.exists()) {
        if (!source.open(QIODevice::ReadOnly)) {
            return describe(QStringLiteral("cannot open"), source);
        }
        content = source.readAll();
        source.close();
    }

    // The lines that stay keep their bytes; only the old account's lines go.
    QByteArray rewritten;
    for (const QByteArray& line : split_line_bytes(content)) {
        const QStringList pieces = split_account_fields(QString::fromUtf8(line));
        const bool is_the_account = pieces.size() >= 2 && pieces[0] == server && pieces[1] == login;
        if (!is_the_account) {
            rewritten += line + "\r\n";
        }
    }
    rewritten += (account.server + kSeparator + account.login + kSeparator + account.password +
                  kSeparator + account.search_words + QStringLiteral("\r\n"))
                     .toUtf8();

    return replace_whole_file(path, rewritten, QStringLiteral("cannot rewrite"),
                              QFile::ReadOwner | QFile::WriteOwner);
}

}  // namespace ostrel
