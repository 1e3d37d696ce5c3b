#pragma once

#include <QString>

#include "config/password_store.h"

namespace ostrel {

// What moving the file's passwords into the keyring came to.
struct PasswordMove {
    int moved = 0;          // lines whose password is now in the keyring only
    KeyringResult refusal;  // the request the keyring did not grant, if any
    QString file_error;     // the rewrite failed: every line kept its password
};

// Stores the password of every account line that still holds one in the
// keyring and rewrites those lines with an empty password field, in one
// atomic, owner-only rewrite; every other byte of the file stays. Stops at
// the first request the keyring does not grant: the lines not yet moved keep
// their passwords, so nothing is ever lost.
[[nodiscard]] PasswordMove move_passwords_to_keyring(const QString& path, PasswordStore& store);

}  // namespace ostrel
