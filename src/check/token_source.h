#pragma once

#include <QString>
#include <functional>

namespace ostrel {

// What a check learns of an account's sign-in with its mail provider, which
// it asks for an account whose line holds no password before it looks in the
// keyring: an access token, or why there is none. `reason` is for the log and
// never holds a token.
struct TokenAnswer {
    enum Status {
        NotSignedIn,  // the account logs in with its password
        Ready,        // `token` is an access token to log in with
        Unavailable,  // signed in, but no token can be had now (the provider did not answer)
        SignInAgain,  // the provider no longer takes the sign-in: only a new one helps
    } status = NotSignedIn;
    QString token;
    QString reason;
    // SignInAgain: the first time this run, so that the user is told once.
    bool first_notice = false;
};

// The access token of the account `login` on `server`; with `renew`, a fresh
// one, since the server refused the one given before. The check knows
// nothing of providers: the main window gives it this.
using TokenSource =
    std::function<TokenAnswer(const QString& server, const QString& login, bool renew)>;

}  // namespace ostrel
