#pragma once

#include "core/secret_store.h"

namespace ostrel {

// The account passwords in the keyring, each keyed by "login@server".
class PasswordStore : public SecretStore {
public:
    using SecretStore::SecretStore;
};

// The keyring entry of an account: its login, "@", its server.
QString keyring_key(const QString& server, const QString& login);

}  // namespace ostrel
