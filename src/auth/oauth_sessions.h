#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

#include "auth/oauth_provider.h"
#include "auth/sign_in.h"
#include "auth/token_store.h"

namespace ostrel {

class EventLog;
class ProviderCatalogue;
class TokenEndpoint;

// An account that signs in with OAuth 2.0 instead of a password.
struct OAuthAccount {
    QString server;
    QString login;
    MailProtocol protocol = MailProtocol::Pop3;
};

// The access token a login needs, or why there is none. SignInAgain: the
// provider no longer takes the account's sign-in, and nothing but a new
// sign-in helps; `first_notice` is true only the first time this run says so
// for the account (until it signs in again), so that one log line and one
// notice are given, not one per check. `reason` never holds a token.
struct AccessToken {
    enum Status { Ready, NotSignedIn, SignInAgain, Unavailable } status = Unavailable;
    QString token;
    QString reason;
    bool first_notice = false;
};

// The sign-ins of the program's accounts: signing in and out, and the
// access tokens over time. Access tokens live in memory only; the refresh
// token of each account is in the token store. An access token is refreshed
// silently when it has less than `refresh_margin_secs` to live.
class OAuthSessions {
public:
    static constexpr int kRefreshMarginSecs = 60;

    OAuthSessions(ProviderCatalogue& providers, TokenStore& store, TokenEndpoint& endpoint,
                  SignIn& browser_sign_in, EventLog& log,
                  int refresh_margin_secs = kRefreshMarginSecs);

    // Signs the account in through the browser; a new sign-in replaces the
    // tokens of an earlier one. Nothing is stored unless it succeeds.
    [[nodiscard]] SignInResult sign_in(const OAuthAccount& account);
    void cancel_sign_in() { browser_sign_in_.cancel(); }
    // Removes the account's tokens, and revokes its refresh token where the
    // provider allows. Returns what could not be done, or an empty text.
    [[nodiscard]] QString sign_out(const OAuthAccount& account);
    StoredToken::Status stored_state(const OAuthAccount& account);
    // The provider refused the account's stored sign-in this run.
    bool sign_in_lost(const OAuthAccount& account) const;
    // The account was renamed (its server or login changed): its sign-in
    // follows it where the same provider serves the new server, and is
    // signed out otherwise. Returns what the user should know (that it was
    // signed out, what could not be done), or an empty text.
    QString move_sign_in(const OAuthAccount& from, const OAuthAccount& to);

    // The account's access token, refreshed when it is due. `tell`: a lost
    // sign-in counts as told (first_notice) only when this asker tells it.
    AccessToken access_token(const OAuthAccount& account, bool tell = true);
    // For a login the server refused: a new access token, refreshed now.
    AccessToken renewed_token(const OAuthAccount& account);

private:
    struct Session {
        QString access_token;
        QDateTime expires_at;
        QString refresh_token;  // once read from the store
        bool refused = false;   // the provider refused the refresh token
        bool told = false;
    };
    AccessToken refresh(const OAuthAccount& account, Session& session, bool tell);
    AccessToken sign_in_again(const OAuthAccount& account, Session& session, bool tell);

    ProviderCatalogue& providers_;
    TokenStore& store_;
    TokenEndpoint& endpoint_;
    SignIn& browser_sign_in_;
    EventLog& log_;
    int refresh_margin_secs_;
    bool signing_in_ = false;
    bool told_file_ = false;
    QHash<QString, Session> sessions_;
};

}  // namespace ostrel
