#pragma once

#include <QString>

#include "auth/sign_in.h"

namespace ostrel {

class OAuthSessions;
class ProviderCatalogue;

// What the accounts editor does about the accounts that sign in with their
// mail provider (OAuth 2.0) instead of a password, apart from its widgets:
// the account's standing, signing in and out, and the sign-in following the
// account when it is renamed or deleted. Each returns the text the editor
// shows, never a token.
class AccountSignIns {
public:
    AccountSignIns(OAuthSessions& sessions, ProviderCatalogue& providers);

    // The provider that serves the account's server (empty: none, and the
    // editor offers no sign-in), whether the account is signed in, and
    // whether the provider refused that sign-in since (it must sign in again).
    struct Standing {
        QString provider;
        bool signed_in = false;
        bool lost = false;

        bool active() const { return signed_in && !lost; }
    };
    Standing standing(const QString& server, const QString& login);

    // Opens the provider's page in the browser and waits, in a nested event
    // loop that keeps the windows live, until the sign-in ends or cancel().
    SignInResult sign_in(const QString& server, const QString& login);
    void cancel();
    bool signing_in() const { return signing_in_; }

    QString sign_out(const QString& server, const QString& login);
    // After Save of an edited account whose server or login changed.
    QString follow_rename(const QString& old_server, const QString& old_login,
                          const QString& server, const QString& login);
    // After Delete: the account's sign-in goes with it.
    QString forget(const QString& server, const QString& login);

private:
    OAuthSessions& sessions_;
    ProviderCatalogue& providers_;
    bool signing_in_ = false;
};

// What the editor says while the browser is open for `provider`.
QString waiting_for_browser_text(const QString& provider);

}  // namespace ostrel
