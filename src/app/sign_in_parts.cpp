#include "app/sign_in_parts.h"

#include "core/data_files.h"

namespace ostrel {

SignInParts::SignInParts(SecretStore& keyring, const DataFiles& files, EventLog& log,
                         SignIn::OpenBrowser open_browser, int sign_in_timeout_ms,
                         int refresh_margin_secs)
    : store(keyring, files.path(kTokensFileName), log),
      providers(files.path(kProvidersFileName), log),
      endpoint(network),
      browser(std::move(open_browser), sign_in_timeout_ms),
      sessions(providers, store, endpoint, browser, log, refresh_margin_secs),
      editor(sessions, providers) {}

TokenSource SignInParts::check_tokens() {
    return tokens(true);
}

TokenSource SignInParts::idle_tokens() {
    return tokens(false);
}

TokenSource SignInParts::tokens(bool tell) {
    return [this, tell](const QString& server, const QString& login, bool renew) -> TokenAnswer {
        const OAuthAccount account{server, login, mail_protocol(server)};
        // Only a stored sign-in makes a token login: every other account
        // keeps its password, whatever its server.
        if (!renew && sessions.stored_state(account) != StoredToken::Found) {
            return {};
        }
        const AccessToken token =
            renew ? sessions.renewed_token(account) : sessions.access_token(account, tell);
        switch (token.status) {
            case AccessToken::Ready:
                return {TokenAnswer::Ready, token.token, {}, false};
            case AccessToken::SignInAgain:
                return {TokenAnswer::SignInAgain, {}, token.reason, token.first_notice};
            case AccessToken::NotSignedIn:
            case AccessToken::Unavailable:
                break;
        }
        return {TokenAnswer::Unavailable, {}, token.reason, false};
    };
}

}  // namespace ostrel
