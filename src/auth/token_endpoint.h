#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

#include "auth/oauth_provider.h"

class QNetworkAccessManager;

namespace ostrel {

// What a provider's token endpoint hands out.
struct TokenGrant {
    QString access_token;
    QString refresh_token;  // empty: the one just used stays valid
    QDateTime expires_at;   // invalid when the provider did not say
};

// How one token request ended. Refused means the provider no longer takes
// the grant (RFC 6749 "invalid_grant": revoked, expired, or used twice): only
// a new sign-in helps. Failed covers everything else (no answer, an error page,
// a refused client), which may pass. `reason` is for the log and never holds
// a token.
struct TokenReply {
    enum Status { Granted, Refused, Failed } status = Failed;
    TokenGrant grant;
    QString reason;
};

// Reads a token endpoint's answer (RFC 6749 sections 5.1 and 5.2).
TokenReply read_token_reply(int http_status, const QByteArray& body, const QDateTime& received);

// The requests a signed-in account makes without the user: refreshing the
// access token, and revoking the refresh token at sign-out (RFC 7009). Each
// waits in a nested event loop, at most `timeout_ms`.
class TokenEndpoint {
public:
    static constexpr int kTimeoutMs = 15000;

    explicit TokenEndpoint(QNetworkAccessManager& network, int timeout_ms = kTimeoutMs);

    [[nodiscard]] TokenReply refresh(const OAuthProvider& provider, const QString& refresh_token);
    // Empty when the provider took it back or offers no revocation; else why not.
    [[nodiscard]] QString revoke(const OAuthProvider& provider, const QString& refresh_token);

private:
    struct Answer {
        int http_status = 0;
        QByteArray body;
        QString failure;  // no HTTP answer at all: why
    };
    Answer post(const QUrl& url, const QList<QPair<QString, QString>>& form);

    QNetworkAccessManager& network_;
    int timeout_ms_;
};

// A provider's own text (an error description) as the log may show it:
// printable, one line, not too long.
QString provider_text(const QString& text);

}  // namespace ostrel
