#pragma once

#include <QString>

namespace ostrel {

class EventLog;
class SecretStore;

inline const QString kTokensFileName = QStringLiteral("oauth_tokens.cfg");

// What a read of the store found.
struct StoredToken {
    enum Status { Found, Missing, Failed } status = Missing;
    QString token;
    QString reason;  // Failed: why, for the log; never the token
};

// Where the refresh tokens of signed-in accounts are kept between runs: the
// keyring, as an entry named "oauth:<login>@<server>" beside the passwords.
// Without a Secret Service they go into an owner-only file in the data folder
// instead (one "entry TAB token" line each), and the log says so once per
// run. A token found in the file while a keyring runs moves into the keyring.
// A keyring that refuses or does not answer is never bypassed for the file:
// the user may just have declined to unlock it.
class TokenStore {
public:
    TokenStore(SecretStore& keyring, QString file_path, EventLog& log);

    [[nodiscard]] StoredToken read(const QString& entry);
    // Each returns why it failed, or an empty text.
    [[nodiscard]] QString write(const QString& entry, const QString& token);
    [[nodiscard]] QString remove(const QString& entry);

    // A token went into the file this run, since no keyring runs.
    bool keeps_file() const { return told_file_; }
    const QString& file_path() const { return file_path_; }

private:
    [[nodiscard]] QString write_file(const QString& entry, const QString& token);
    void tell_file_once();

    SecretStore& keyring_;
    QString file_path_;
    EventLog& log_;
    bool told_file_ = false;
};

// The store entry of an account's sign-in.
QString token_entry(const QString& server, const QString& login);

}  // namespace ostrel
