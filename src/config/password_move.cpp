#include "config/password_move.h"

#include <QFile>

#include "config/accounts_file.h"
#include "core/line_split.h"
#include "core/whole_file.h"

namespace ostrel {

namespace {

QString rewrite(const QString& path, const QByteArray& content) {
    return replace_whole_file(path, content, QStringLiteral("cannot rewrite"));
}

}  // namespace

PasswordMove move_passwords_to_keyring(const QString& path, PasswordStore& store) {
    PasswordMove move;
    QFile source(path);
    if (!source.open(QIODevice::ReadOnly)) {
        move.file_error = file_failure(QStringLiteral("cannot open"), source);
        return move;
    }
    const QList<QByteArray> lines = split_line_bytes(source.readAll());
    source.close();

    QByteArray rewritten;
    for (const QByteArray& line : lines) {
        QStringList pieces = split_account_fields(account_line_text(line));
        const bool holds_password = pieces.size() >= 4 && !pieces[2].isEmpty();
        if (holds_password && move.refusal.done()) {
            move.refusal = store.write(keyring_key(pieces[0], pieces[1]), pieces[2]);
            if (move.refusal.done()) {
                pieces[2].clear();
                rewritten += join_account_fields(pieces).toUtf8() + "\r\n";
                ++move.moved;
                continue;
            }
        }
        rewritten += line + "\r\n";
    }
    if (move.moved > 0) {
        move.file_error = rewrite(path, rewritten);
        if (!move.file_error.isEmpty()) {
            move.moved = 0;
        }
    }
    return move;
}

}  // namespace ostrel
