#include "config/accounts_file.h"

#include <QFile>
#include <QStringDecoder>

#include "core/line_split.h"
#include "core/whole_file.h"

namespace ostrel {

namespace {

const QString kSeparator = QStringLiteral("<>");

// True when the file is empty or its last byte ends a line (CR, or CR LF).
bool ends_a_line(const QString& path, qint64 size) {
    if (size == 0) {
        return true;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(qMax<qint64>(0, size - 2))) {
        return true;
    }
    const QByteArray tail = file.read(2);
    return tail.endsWith('\r') || tail.endsWith("\r\n");
}

}  // namespace

QString account_key(const QString& server, const QString& login) {
    return server + kSeparator + login;
}

QString account_key(const PopAccount& account) {
    return account_key(account.server, account.login);
}

bool line_is_account(const QByteArray& line, const QString& key) {
    const int cut = key.indexOf(kSeparator);
    const QString server = key.left(cut);
    const QString login = cut < 0 ? QString() : key.mid(cut + kSeparator.size());
    const QStringList pieces = split_account_fields(account_line_text(line));
    return pieces.size() >= 2 && pieces[0] == server && pieces[1] == login;
}

QString join_account_fields(const QStringList& fields) {
    return fields.join(kSeparator);
}

QString account_line(const PopAccount& account) {
    return join_account_fields(
        {account.server, account.login, account.password, account.search_words});
}

QString account_line_text(const QByteArray& line) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(line);
    if (!utf8.hasError()) {
        return text;
    }
    QStringDecoder windows_1252("windows-1252", QStringDecoder::Flag::Stateless);
    return windows_1252.isValid() ? QString(windows_1252.decode(line)) : text;
}

QStringList split_account_lines(const QByteArray& content) {
    QStringList lines;
    for (const QByteArray& line : split_line_bytes(content)) {
        lines.append(account_line_text(line));
    }
    return lines;
}

QStringList split_account_fields(const QString& line) {
    if (line.isEmpty()) {
        return {};
    }
    return line.split(kSeparator);
}

bool parse_account_line(const QString& line, PopAccount* account) {
    const QStringList pieces = split_account_fields(line);
    if (pieces.size() < 4) {
        return false;
    }
    *account = PopAccount{pieces[0], pieces[1], pieces[2], pieces[3]};
    return true;
}

AccountsRead readAccounts(const QString& path) {
    AccountsRead result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = file_failure(QStringLiteral("cannot open"), file);
        return result;
    }
    const QStringList lines = split_account_lines(file.readAll());
    for (int i = 0; i < lines.size(); ++i) {
        PopAccount account;
        if (!parse_account_line(lines[i], &account)) {
            result.error =
                QStringLiteral("line %1 of %2 holds fewer than four fields").arg(i + 1).arg(path);
            return result;
        }
        result.accounts.append(account);
    }
    return result;
}

QString appendAccount(const QString& path, const PopAccount& account) {
    QFile file(path);
    if (!open_owner_only(file, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        return file_failure(QStringLiteral("cannot append to"), file);
    }
    const QString line = account_line(account) + QStringLiteral("\r\n");
    const qint64 old_size = file.size();
    // A last line edited by hand may lack its end; the new line must not
    // join it. Both go out in one write, so a failure cuts back both.
    const QByteArray bytes =
        (ends_a_line(path, old_size) ? QByteArray() : QByteArray("\r\n")) + line.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString error = file_failure(QStringLiteral("cannot append to"), file);
        // A part of the line may have reached the disk: cut it off again so
        // the file keeps only whole lines.
        file.resize(old_size);
        return error;
    }
    return {};
}

QString dropAccount(const QString& path, const QString& key) {
    QFile source(path);
    if (!source.open(QIODevice::ReadOnly)) {
        return file_failure(QStringLiteral("cannot open"), source);
    }
    const QList<QByteArray> lines = split_line_bytes(source.readAll());
    source.close();

    // Lines that stay are copied as raw bytes, so nothing in them can change.
    QByteArray kept;
    for (const QByteArray& line : lines) {
        if (!line_is_account(line, key)) {
            kept += line + "\r\n";
        }
    }

    return replace_whole_file(path, kept, QStringLiteral("cannot rewrite"));
}

QString create_empty_accounts_file(const QString& path) {
    QFile file(path);
    if (!open_owner_only(file, QIODevice::WriteOnly | QIODevice::NewOnly)) {
        return file_failure(QStringLiteral("cannot create"), file);
    }
    return {};
}

}  // namespace ostrel
