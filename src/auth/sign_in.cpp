#include "auth/sign_in.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QOAuth2AuthorizationCodeFlow>
#include <QOAuthHttpServerReplyHandler>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTimer>

namespace ostrel {

namespace {

constexpr auto kBase64Url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

QString duration(int ms) {
    return ms >= 60000 ? QStringLiteral("%1 minute(s)").arg(ms / 60000)
                       : QStringLiteral("%1 second(s)").arg(ms / 1000);
}

// The error of a redirect, whose query is form-encoded: Qt 6.4 leaves its
// "+" for a space as it came.
QString provider_said(const QString& error, const QString& description) {
    QString said = description.isEmpty() ? error : description;
    return provider_text(said.replace(QLatin1Char('+'), QLatin1Char(' ')));
}

// 32 bytes from the system's random source, as 43 URL-safe characters.
QString random_text() {
    quint32 random[8];
    QRandomGenerator::system()->fillRange(random);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(random), sizeof random).toBase64(kBase64Url));
}

}  // namespace

QString make_code_verifier() {
    return random_text();
}

QString code_challenge(const QString& verifier) {
    return QString::fromLatin1(
        QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256)
            .toBase64(kBase64Url));
}

SignIn::SignIn(OpenBrowser open_browser, int timeout_ms)
    : open_browser_(std::move(open_browser)), timeout_ms_(timeout_ms) {}

SignIn::~SignIn() = default;

void SignIn::cancel() {
    if (cancel_) {
        cancel_();
    }
}

SignIn::Outcome SignIn::run(const OAuthProvider& provider, const QString& login,
                            MailProtocol protocol) {
    // Qt's handler listens on every address unless told otherwise.
    redirect_ = std::make_unique<QOAuthHttpServerReplyHandler>(QHostAddress::LocalHost, 0);
    const auto stop_listening = qScopeGuard([this] { redirect_->close(); });
    if (!redirect_->isListening()) {
        return {{SignInResult::Failed,
                 QStringLiteral("The sign-in failed: no port on 127.0.0.1 could take the "
                                "provider's answer.")},
                {}};
    }
    redirect_->setCallbackText(
        QStringLiteral("Ostrel has the answer of %1. You can close this page.").arg(provider.name));
    // A network of its own, so that only this flow's requests are watched.
    QNetworkAccessManager network;
    QOAuth2AuthorizationCodeFlow flow(&network);
    prepare(flow, provider, login, protocol);

    Outcome outcome{{SignInResult::TimedOut,
                     QStringLiteral("The sign-in was not completed within %1 (was the browser "
                                    "closed?); nothing was stored.")
                         .arg(duration(timeout_ms_))},
                    {}};
    QEventLoop loop;
    bool finished = false;
    const auto finish = [&](SignInResult::Status status, const QString& message) {
        if (!finished) {
            finished = true;
            outcome.result = {status, message};
            loop.quit();
        }
    };
    const auto failed = [&](const QString& reason) {
        finish(SignInResult::Failed,
               QStringLiteral("The sign-in with %1 failed: %2. Nothing was stored.")
                   .arg(provider.name, reason));
    };
    QObject::connect(&flow, &QAbstractOAuth::authorizeWithBrowser, &loop, [&](const QUrl& url) {
        if (!open_browser_(url)) {
            finish(SignInResult::BrowserFailed,
                   QStringLiteral("No web browser could be opened for the sign-in."));
        }
    });
    QObject::connect(&flow, &QAbstractOAuth2::error, &loop,
                     [&](const QString& error, const QString& description) {
                         const QString said = provider_said(error, description);
                         if (error == QLatin1String("access_denied")) {
                             finish(SignInResult::Denied,
                                    QStringLiteral("%1 did not grant access (%2); nothing was "
                                                   "stored.")
                                        .arg(provider.name, said));
                         } else {
                             failed(QStringLiteral("the provider answered \"%1\"").arg(said));
                         }
                     });
    // Qt 6.4 only warns when the token request fails; its reply tells why.
    QObject::connect(&network, &QNetworkAccessManager::finished, &loop, [&](QNetworkReply* reply) {
        if (reply->error() != QNetworkReply::NoError) {
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            failed(status == 0 ? reply->errorString()
                               : read_token_reply(status, reply->readAll(), {}).reason);
        }
    });
    QObject::connect(&flow, &QAbstractOAuth::granted, &loop, [&] {
        if (flow.refreshToken().isEmpty()) {
            failed(
                QStringLiteral("the provider gave no refresh token, so the sign-in would "
                               "not last"));
            return;
        }
        outcome.grant = {flow.token(), flow.refreshToken(), flow.expirationAt()};
        finish(SignInResult::SignedIn, QStringLiteral("Signed in with %1.").arg(provider.name));
    });
    cancel_ = [&] {
        finish(SignInResult::Cancelled,
               QStringLiteral("The sign-in was cancelled; nothing was stored."));
    };
    const auto forget_cancel = qScopeGuard([this] { cancel_ = nullptr; });

    QTimer::singleShot(timeout_ms_, &loop, &QEventLoop::quit);
    flow.grant();
    if (!finished) {
        loop.exec();
    }
    if (!outcome.result.signed_in()) {
        outcome.grant = {};
    }
    return outcome;
}

// Qt's flow for the provider, with what Qt 6.4 lacks added through its
// parameter hook: PKCE, the login to suggest and the provider's own
// parameters on the browser page, and no empty client secret.
void SignIn::prepare(QOAuth2AuthorizationCodeFlow& flow, const OAuthProvider& provider,
                     const QString& login, MailProtocol protocol) {
    flow.setReplyHandler(redirect_.get());
    flow.setAuthorizationUrl(provider.authorization_url);
    flow.setAccessTokenUrl(provider.token_url);
    flow.setClientIdentifier(provider.client_id);
    flow.setClientIdentifierSharedKey(provider.client_secret);
    flow.setScope(provider.scope(protocol));
    // Qt 6.4 makes its state of 8 characters from a generator seeded with the
    // time; a state that cannot be guessed keeps forged redirects out.
    flow.setState(random_text());
    flow.setModifyParametersFunction(
        [provider, login, verifier = make_code_verifier()](
            QAbstractOAuth::Stage stage, QMultiMap<QString, QVariant>* parameters) {
            if (stage == QAbstractOAuth::Stage::RequestingAuthorization) {
                parameters->insert(QStringLiteral("code_challenge"), code_challenge(verifier));
                parameters->insert(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
                if (!login.isEmpty()) {
                    parameters->insert(QStringLiteral("login_hint"), login);
                }
                for (const auto& [key, value] : provider.authorization_parameters) {
                    parameters->replace(key, value);
                }
            } else if (stage == QAbstractOAuth::Stage::RequestingAccessToken) {
                parameters->insert(QStringLiteral("code_verifier"), verifier);
                if (provider.client_secret.isEmpty()) {
                    parameters->remove(QStringLiteral("client_secret"));
                }
            }
        });
}

}  // namespace ostrel
