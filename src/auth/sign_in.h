#pragma once

#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

#include "auth/oauth_provider.h"
#include "auth/token_endpoint.h"

class QOAuth2AuthorizationCodeFlow;
class QOAuthHttpServerReplyHandler;

namespace ostrel {

// How a sign-in ended. `message` is what the user reads; it never holds a
// token or a code.
struct SignInResult {
    enum Status {
        SignedIn,
        NoProvider,     // no provider serves the account's server
        NoClientId,     // this copy has no client registration for the provider
        BrowserFailed,  // the page could not be opened
        Denied,         // the user or the provider said no
        TimedOut,       // no answer in time: the user may have closed the page
        Cancelled,
        Failed,     // the provider refused the exchange, or did not answer
        NotStored,  // signed in, but the tokens could not be kept
    } status = Failed;
    QString message;

    bool signed_in() const { return status == SignedIn; }
};

// PKCE (RFC 7636): a fresh random verifier of 43 characters, and the S256
// challenge the authorization request carries instead of it.
QString make_code_verifier();
QString code_challenge(const QString& verifier);

// One sign-in through the user's browser: the authorization code flow of
// Qt's QOAuth2AuthorizationCodeFlow, with PKCE added through its parameter
// hook, and the redirect received on 127.0.0.1 at a port the system picks
// (RFC 8252). The program never sees the user's password.
class SignIn {
public:
    using OpenBrowser = std::function<bool(const QUrl&)>;
    static constexpr int kTimeoutMs = 5 * 60 * 1000;

    explicit SignIn(OpenBrowser open_browser, int timeout_ms = kTimeoutMs);
    ~SignIn();

    struct Outcome {
        SignInResult result;
        TokenGrant grant;  // when signed in
    };
    // Opens the provider's page and waits in a nested event loop until the
    // provider answered through the browser and the code was exchanged for
    // tokens, cancel() was called, or the time-out passed.
    [[nodiscard]] Outcome run(const OAuthProvider& provider, const QString& login,
                              MailProtocol protocol);
    void cancel();

private:
    void prepare(QOAuth2AuthorizationCodeFlow& flow, const OAuthProvider& provider,
                 const QString& login, MailProtocol protocol);

    OpenBrowser open_browser_;
    int timeout_ms_;
    std::function<void()> cancel_;
    // The last sign-in's receiver of the redirect. It stops listening when
    // the sign-in ends but lives on until the next one, so that the browser
    // still gets the page it was sent to.
    std::unique_ptr<QOAuthHttpServerReplyHandler> redirect_;
};

}  // namespace ostrel
