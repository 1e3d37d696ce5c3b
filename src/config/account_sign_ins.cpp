#include "config/account_sign_ins.h"

#include <QScopeGuard>

#include "auth/oauth_sessions.h"
#include "auth/providers_file.h"

namespace ostrel {

namespace {

OAuthAccount oauth_account(const QString& server, const QString& login) {
    return {server, login, mail_protocol(server)};
}

}  // namespace

QString waiting_for_browser_text(const QString& provider) {
    return QStringLiteral(
               "Sign in with %1 in the web browser that opened, and allow Ostrel to read your "
               "mail there. Cancel stops waiting.")
        .arg(provider);
}

AccountSignIns::AccountSignIns(OAuthSessions& sessions, ProviderCatalogue& providers)
    : sessions_(sessions), providers_(providers) {}

AccountSignIns::Standing AccountSignIns::standing(const QString& server, const QString& login) {
    const std::optional<OAuthProvider> provider = providers_.for_server(server);
    if (!provider) {
        return {};
    }
    const OAuthAccount account = oauth_account(server, login);
    const bool stored = sessions_.stored_state(account) == StoredToken::Found;
    return {provider->name, stored, stored && sessions_.sign_in_lost(account)};
}

SignInResult AccountSignIns::sign_in(const QString& server, const QString& login) {
    signing_in_ = true;
    const auto done = qScopeGuard([this] { signing_in_ = false; });
    return sessions_.sign_in(oauth_account(server, login));
}

void AccountSignIns::cancel() {
    sessions_.cancel_sign_in();
}

QString AccountSignIns::sign_out(const QString& server, const QString& login) {
    const QString problems = sessions_.sign_out(oauth_account(server, login));
    return problems.isEmpty() ? QStringLiteral("Signed out.")
                              : QStringLiteral("Signed out, but %1.").arg(problems);
}

QString AccountSignIns::follow_rename(const QString& old_server, const QString& old_login,
                                      const QString& server, const QString& login) {
    const QString problems =
        sessions_.move_sign_in(oauth_account(old_server, old_login), oauth_account(server, login));
    return problems.isEmpty()
               ? QString()
               : QStringLiteral("The sign-in of %1@%2: %3.").arg(old_login, old_server, problems);
}

QString AccountSignIns::forget(const QString& server, const QString& login) {
    if (sessions_.stored_state(oauth_account(server, login)) != StoredToken::Found) {
        return {};
    }
    const QString problems = sessions_.sign_out(oauth_account(server, login));
    return problems.isEmpty() ? QString()
                              : QStringLiteral("The sign-in of %1@%2 was signed out, but %3.")
                                    .arg(login, server, problems);
}

}  // namespace ostrel
