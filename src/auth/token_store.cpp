#include "auth/token_store.h"

#include <QFile>

#include "core/event_log.h"
#include "core/line_split.h"
#include "core/secret_store.h"
#include "core/whole_file.h"

namespace ostrel {

namespace {

struct FileLines {
    QList<QByteArray> lines;
    QString error;
};

FileLines read_lines(const QString& path) {
    QFile file(path);
    if (!file.exists()) {
        return {};
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return {{}, file_failure(QStringLiteral("cannot open"), file)};
    }
    return {split_line_bytes(file.readAll()), {}};
}

QByteArray entry_prefix(const QString& entry) {
    return entry.toUtf8() + '\t';
}

}  // namespace

QString token_entry(const QString& server, const QString& login) {
    return QStringLiteral("oauth:") + login + QLatin1Char('@') + server;
}

TokenStore::TokenStore(SecretStore& keyring, QString file_path, EventLog& log)
    : keyring_(keyring), file_path_(std::move(file_path)), log_(log) {}

StoredToken TokenStore::read(const QString& entry) {
    const KeyringResult kept = keyring_.read(entry);
    if (kept.done()) {
        return {StoredToken::Found, kept.password, {}};
    }
    if (kept.status != KeyringResult::NoService && kept.status != KeyringResult::NotFound) {
        return {StoredToken::Failed, {}, kept.reason()};
    }
    const FileLines file = read_lines(file_path_);
    if (!file.error.isEmpty()) {
        return {StoredToken::Failed, {}, file.error};
    }
    for (const QByteArray& line : file.lines) {
        if (line.startsWith(entry_prefix(entry))) {
            const QString token = QString::fromUtf8(line.mid(entry_prefix(entry).size()));
            if (kept.status == KeyringResult::NotFound && keyring_.write(entry, token).done()) {
                const QString error = write_file(entry, {});
                if (!error.isEmpty()) {
                    log_.log_event(QStringLiteral("The sign-in %1 is in the keyring now, but its "
                                                  "copy stays in the file: %2")
                                       .arg(entry, error));
                }
            }
            return {StoredToken::Found, token, {}};
        }
    }
    return {};
}

QString TokenStore::write(const QString& entry, const QString& token) {
    const KeyringResult kept = keyring_.write(entry, token);
    if (kept.done()) {
        return write_file(entry, {});
    }
    if (kept.status != KeyringResult::NoService) {
        return kept.reason();
    }
    tell_file_once();
    return write_file(entry, token);
}

QString TokenStore::remove(const QString& entry) {
    const KeyringResult removed = keyring_.remove(entry);
    const QString file_error = write_file(entry, {});
    if (!removed.done() && removed.status != KeyringResult::NoService) {
        return removed.reason();
    }
    return file_error;
}

// Rewrites the file with the entry's line replaced by `token`, or left out
// when the token is empty. Every other line stays as it was.
QString TokenStore::write_file(const QString& entry, const QString& token) {
    const FileLines file = read_lines(file_path_);
    if (!file.error.isEmpty()) {
        return file.error;
    }
    QByteArray content;
    bool changed = false;
    for (const QByteArray& line : file.lines) {
        if (line.startsWith(entry_prefix(entry))) {
            changed = true;
        } else {
            content += line + "\r\n";
        }
    }
    if (!token.isEmpty()) {
        content += entry_prefix(entry) + token.toUtf8() + "\r\n";
        changed = true;
    }
    if (!changed) {
        return {};
    }
    return replace_whole_file(file_path_, content, QStringLiteral("cannot write"),
                              QFile::ReadOwner | QFile::WriteOwner);
}

void TokenStore::tell_file_once() {
    if (!told_file_) {
        told_file_ = true;
        log_.log_event(QStringLiteral("No Secret Service (keyring) runs: sign-ins are kept in %1, "
                                      "readable by its owner only")
                           .arg(file_path_));
    }
}

}  // namespace ostrel
