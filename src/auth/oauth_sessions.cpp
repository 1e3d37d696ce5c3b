#include "auth/oauth_sessions.h"

#include <QScopeGuard>
#include <utility>

#include "auth/providers_file.h"
#include "auth/token_endpoint.h"
#include "core/event_log.h"

namespace ostrel {

namespace {

QString account_name(const OAuthAccount& account) {
    return account.login + QLatin1Char('@') + account.server;
}

QString entry_of(const OAuthAccount& account) {
    return token_entry(account.server, account.login);
}

}  // namespace

OAuthSessions::OAuthSessions(ProviderCatalogue& providers, TokenStore& store,
                             TokenEndpoint& endpoint, SignIn& browser_sign_in, EventLog& log,
                             int refresh_margin_secs)
    : providers_(providers),
      store_(store),
      endpoint_(endpoint),
      browser_sign_in_(browser_sign_in),
      log_(log),
      refresh_margin_secs_(refresh_margin_secs) {}

SignInResult OAuthSessions::sign_in(const OAuthAccount& account) {
    if (signing_in_) {
        return {SignInResult::Failed, QStringLiteral("Another sign-in is under way.")};
    }
    const std::optional<OAuthProvider> provider = providers_.for_server(account.server);
    if (!provider) {
        return {SignInResult::NoProvider,
                QStringLiteral("Ostrel knows no provider to sign in with for %1. A provider can "
                               "be added in %2.")
                    .arg(account.server, providers_.path())};
    }
    if (const QString missing = provider->missing_registration(); !missing.isEmpty()) {
        return {SignInResult::NoClientId,
                missing + QStringLiteral(" Register Ostrel with %1 and write the client id in %2.")
                              .arg(provider->name, providers_.path())};
    }
    signing_in_ = true;
    const auto done = qScopeGuard([this] { signing_in_ = false; });
    const SignIn::Outcome outcome =
        browser_sign_in_.run(*provider, account.login, account.protocol);
    if (!outcome.result.signed_in()) {
        return outcome.result;
    }
    if (const QString why = store_.write(entry_of(account), outcome.grant.refresh_token);
        !why.isEmpty()) {
        return {SignInResult::NotStored,
                QStringLiteral("Signed in with %1, but the sign-in could not be kept: %2")
                    .arg(provider->name, why)};
    }
    sessions_.insert(entry_of(account), {outcome.grant.access_token, outcome.grant.expires_at,
                                         outcome.grant.refresh_token, false, false});
    SignInResult result = outcome.result;
    if (store_.keeps_file() && !std::exchange(told_file_, true)) {
        result.message += QStringLiteral(
                              " No keyring (Secret Service) runs on this desktop, so the "
                              "sign-in is kept in %1, which only you can read.")
                              .arg(store_.file_path());
    }
    return result;
}

QString OAuthSessions::sign_out(const OAuthAccount& account) {
    QStringList problems;
    const StoredToken stored = store_.read(entry_of(account));
    const std::optional<OAuthProvider> provider = providers_.for_server(account.server);
    if (stored.status == StoredToken::Found && provider) {
        const QString why = endpoint_.revoke(*provider, stored.token);
        if (!why.isEmpty()) {
            problems
                << QStringLiteral("%1 was not told of the sign-out: %2").arg(provider->name, why);
        }
    }
    if (const QString why = store_.remove(entry_of(account)); !why.isEmpty()) {
        problems << QStringLiteral("the sign-in was not removed: ") + why;
    }
    sessions_.remove(entry_of(account));
    return problems.join(QStringLiteral("; "));
}

QString OAuthSessions::move_sign_in(const OAuthAccount& from, const OAuthAccount& to) {
    if (entry_of(from) == entry_of(to)) {
        return {};
    }
    const StoredToken stored = store_.read(entry_of(from));
    if (stored.status == StoredToken::Missing) {
        return {};
    }
    if (stored.status == StoredToken::Failed) {
        return QStringLiteral("the sign-in could not be read: ") + stored.reason;
    }
    const std::optional<OAuthProvider> old_provider = providers_.for_server(from.server);
    const std::optional<OAuthProvider> new_provider = providers_.for_server(to.server);
    if (!old_provider || !new_provider || old_provider->name != new_provider->name) {
        QString told = QStringLiteral("it was signed out, since its provider does not serve %1")
                           .arg(to.server);
        if (const QString problems = sign_out(from); !problems.isEmpty()) {
            told += QStringLiteral(", but ") + problems;
        }
        return told;
    }
    if (const QString why = store_.write(entry_of(to), stored.token); !why.isEmpty()) {
        return QStringLiteral("the sign-in did not follow the account: ") + why;
    }
    sessions_.insert(entry_of(to), sessions_.take(entry_of(from)));
    if (const QString why = store_.remove(entry_of(from)); !why.isEmpty()) {
        return QStringLiteral("the sign-in under the old name was not removed: ") + why;
    }
    return {};
}

StoredToken::Status OAuthSessions::stored_state(const OAuthAccount& account) {
    return store_.read(entry_of(account)).status;
}

bool OAuthSessions::sign_in_lost(const OAuthAccount& account) const {
    return sessions_.value(entry_of(account)).refused;
}

AccessToken OAuthSessions::access_token(const OAuthAccount& account, bool tell) {
    Session& session = sessions_[entry_of(account)];
    if (session.refused) {
        return sign_in_again(account, session, tell);
    }
    const QDateTime soon = QDateTime::currentDateTimeUtc().addSecs(refresh_margin_secs_);
    if (!session.access_token.isEmpty() &&
        (!session.expires_at.isValid() || session.expires_at > soon)) {
        return {AccessToken::Ready, session.access_token, {}, false};
    }
    return refresh(account, session, tell);
}

AccessToken OAuthSessions::renewed_token(const OAuthAccount& account) {
    sessions_[entry_of(account)].access_token.clear();
    return access_token(account);
}

AccessToken OAuthSessions::refresh(const OAuthAccount& account, Session& session, bool tell) {
    session.access_token.clear();
    const std::optional<OAuthProvider> provider = providers_.for_server(account.server);
    if (!provider) {
        return {AccessToken::Unavailable,
                {},
                QStringLiteral("no provider to sign in with serves %1 now").arg(account.server)};
    }
    if (session.refresh_token.isEmpty()) {
        const StoredToken stored = store_.read(entry_of(account));
        if (stored.status == StoredToken::Missing) {
            return {AccessToken::NotSignedIn,
                    {},
                    QStringLiteral("%1 is not signed in").arg(account_name(account))};
        }
        if (stored.status == StoredToken::Failed) {
            return {AccessToken::Unavailable,
                    {},
                    QStringLiteral("its sign-in could not be read: ") + stored.reason};
        }
        session.refresh_token = stored.token;
    }
    const TokenReply reply = endpoint_.refresh(*provider, session.refresh_token);
    if (reply.status == TokenReply::Refused) {
        session.refused = true;
        return sign_in_again(account, session, tell);
    }
    if (reply.status == TokenReply::Failed) {
        return {AccessToken::Unavailable,
                {},
                QStringLiteral("renewing its sign-in with %1 failed: %2")
                    .arg(provider->name, reply.reason)};
    }
    session.access_token = reply.grant.access_token;
    session.expires_at = reply.grant.expires_at;
    // A provider that rotates refresh tokens has just spent the old one.
    if (!reply.grant.refresh_token.isEmpty() &&
        reply.grant.refresh_token != session.refresh_token) {
        session.refresh_token = reply.grant.refresh_token;
        if (const QString why = store_.write(entry_of(account), session.refresh_token);
            !why.isEmpty()) {
            log_.log_event(
                QStringLiteral("%1: the renewed sign-in could not be kept (%2); it holds "
                               "until Ostrel ends")
                    .arg(account_name(account), why));
        }
    }
    return {AccessToken::Ready, session.access_token, {}, false};
}

AccessToken OAuthSessions::sign_in_again(const OAuthAccount& account, Session& session, bool tell) {
    const bool first = tell && !session.told;
    session.told = session.told || tell;
    return {AccessToken::SignInAgain,
            {},
            QStringLiteral("the provider no longer accepts the sign-in of %1; sign it in again")
                .arg(account_name(account)),
            first};
}

}  // namespace ostrel
