#pragma once

#include <QNetworkAccessManager>

#include "auth/oauth_sessions.h"
#include "auth/providers_file.h"
#include "auth/sign_in.h"
#include "auth/token_endpoint.h"
#include "auth/token_store.h"
#include "check/token_source.h"
#include "config/account_sign_ins.h"

namespace ostrel {

class EventLog;
class SecretStore;
struct DataFiles;

// Signing accounts in with their mail provider, as the main window owns it:
// the tokens kept in `keyring` (or the tokens file in the data folder), the
// providers and their file, the provider's token endpoint, the sign-in in
// the browser that `open_browser` opens, the sign-ins over time, and what the
// accounts editor and the check are given of them.
struct SignInParts {
    SignInParts(SecretStore& keyring, const DataFiles& files, EventLog& log,
                SignIn::OpenBrowser open_browser, int sign_in_timeout_ms = SignIn::kTimeoutMs,
                int refresh_margin_secs = OAuthSessions::kRefreshMarginSecs);

    // A check's access tokens: for an account that is signed in (asked
    // before any password), refreshed before they expire, renewed on demand.
    TokenSource check_tokens();
    // The same for the idle watchers, which tell the user nothing: a lost
    // sign-in stays for the next check to tell.
    TokenSource idle_tokens();

    TokenStore store;
    ProviderCatalogue providers;
    QNetworkAccessManager network;
    TokenEndpoint endpoint;
    SignIn browser;
    OAuthSessions sessions;
    AccountSignIns editor;

private:
    TokenSource tokens(bool tell);
};

}  // namespace ostrel
