#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

namespace ostrel {

// One watched mailbox, as one line of the accounts file.
struct PopAccount {
    QString server;
    QString login;
    QString password;
    QString search_words;

    bool operator==(const PopAccount& other) const {
        return server == other.server && login == other.login && password == other.password &&
               search_words == other.search_words;
    }
};

// server + "<>" + login: how an account to be taken out of the file is named.
QString account_key(const QString& server, const QString& login);
QString account_key(const PopAccount& account);

// Whether a line of the file is one of the account named by `key`.
bool line_is_account(const QByteArray& line, const QString& key);

// The fields joined with "<>" into one line, without its end.
QString join_account_fields(const QStringList& fields);
QString account_line(const PopAccount& account);

// The text of one line of the file: UTF-8, or, when the bytes are not valid
// UTF-8, windows-1252, the code page older programs wrote the file in.
QString account_line_text(const QByteArray& line);

// The lines of the file content (see split_line_bytes), read by account_line_text.
QStringList split_account_lines(const QByteArray& content);

// Splits one line at every "<>". An empty line gives no pieces.
QStringList split_account_fields(const QString& line);

// The record of a line, or false when the line holds fewer than four pieces.
[[nodiscard]] bool parse_account_line(const QString& line, PopAccount* account);

struct AccountsRead {
    QVector<PopAccount> accounts;  // the records before any bad line
    QString error;                 // empty when the whole file was read
    bool ok() const { return error.isEmpty(); }
};

[[nodiscard]] AccountsRead readAccounts(const QString& path);

// Appends one record line (creating the file if needed, owner-only). Returns an
// error description, empty on success.
[[nodiscard]] QString appendAccount(const QString& path, const PopAccount& account);

// Removes every line whose server and login equal the key's, keeping all other
// lines byte for byte in their order. The rewrite is atomic and owner-only.
[[nodiscard]] QString dropAccount(const QString& path, const QString& key);

// Creates an empty accounts file readable by its owner only.
[[nodiscard]] QString create_empty_accounts_file(const QString& path);

}  // namespace ostrel
