#pragma once

#include <QString>

namespace ostrel {

// How one keyring request ended. `error` is the keyring's own text when it
// refused; `password` is what a read found.
struct [[nodiscard]] KeyringResult {
    enum Status { Done, NoService, Refused, NotFound, TimedOut } status = Done;
    QString error;
    QString password;

    bool done() const { return status == Done; }
    // Why the request failed, for a log line or a message; never the password.
    QString reason() const;
};

// Secrets in the desktop's Secret Service (GNOME Keyring, KWallet), under the
// program's id, each keyed by a name. Every request waits for its answer in a
// nested event loop, at most `timeout_ms`: a keyring that asks the user to
// unlock it and gets no answer, or never answers at all, ends as TimedOut
// instead of holding up the program.
class SecretStore {
public:
    static constexpr int kTimeoutMs = 20000;

    explicit SecretStore(int timeout_ms = kTimeoutMs);

    KeyringResult write(const QString& key, const QString& password);
    KeyringResult read(const QString& key);
    // An entry that is not there counts as removed.
    KeyringResult remove(const QString& key);

    int timeout_ms() const { return timeout_ms_; }

private:
    int timeout_ms_;
};

}  // namespace ostrel
