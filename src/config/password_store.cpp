#include "config/password_store.h"

namespace ostrel {

QString keyring_key(const QString& server, const QString& login) {
    return login + QLatin1Char('@') + server;
}

}  // namespace ostrel
