#include "auth/token_endpoint.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

namespace ostrel {

namespace {

QByteArray form_body(const QList<QPair<QString, QString>>& form) {
    QByteArray body;
    for (const auto& [key, value] : form) {
        if (!body.isEmpty()) {
            body += '&';
        }
        body += QUrl::toPercentEncoding(key) + '=' + QUrl::toPercentEncoding(value);
    }
    return body;
}

QList<QPair<QString, QString>> client_fields(const OAuthProvider& provider) {
    QList<QPair<QString, QString>> fields{{QStringLiteral("client_id"), provider.client_id}};
    if (!provider.client_secret.isEmpty()) {
        fields.append({QStringLiteral("client_secret"), provider.client_secret});
    }
    return fields;
}

}  // namespace

QString provider_text(const QString& text) {
    QString shown;
    for (const QChar c : text) {
        shown += c.isPrint() ? c : QLatin1Char(' ');
    }
    shown = shown.simplified();
    return shown.size() > 200 ? shown.left(200) + QStringLiteral("…") : shown;
}

TokenReply read_token_reply(int http_status, const QByteArray& body, const QDateTime& received) {
    const QJsonObject reply = QJsonDocument::fromJson(body).object();
    TokenReply result;
    if (http_status == 200) {
        result.grant.access_token = reply.value(QStringLiteral("access_token")).toString();
        result.grant.refresh_token = reply.value(QStringLiteral("refresh_token")).toString();
        const int lifetime = reply.value(QStringLiteral("expires_in")).toVariant().toInt();
        if (lifetime > 0) {
            result.grant.expires_at = received.addSecs(lifetime);
        }
        if (result.grant.access_token.isEmpty()) {
            result.grant = {};
            result.reason = QStringLiteral("the provider's answer holds no access token");
        } else {
            result.status = TokenReply::Granted;
        }
        return result;
    }
    const QString error = provider_text(reply.value(QStringLiteral("error")).toString());
    if (error.isEmpty()) {
        result.reason =
            QStringLiteral("the provider answered with HTTP status %1").arg(http_status);
        return result;
    }
    result.status =
        error == QLatin1String("invalid_grant") ? TokenReply::Refused : TokenReply::Failed;
    result.reason = QStringLiteral("the provider answered \"%1\"").arg(error);
    const QString description =
        provider_text(reply.value(QStringLiteral("error_description")).toString());
    if (!description.isEmpty()) {
        result.reason += QStringLiteral(": ") + description;
    }
    return result;
}

TokenEndpoint::TokenEndpoint(QNetworkAccessManager& network, int timeout_ms)
    : network_(network), timeout_ms_(timeout_ms) {}

TokenReply TokenEndpoint::refresh(const OAuthProvider& provider, const QString& refresh_token) {
    auto form = client_fields(provider);
    form.append({QStringLiteral("grant_type"), QStringLiteral("refresh_token")});
    form.append({QStringLiteral("refresh_token"), refresh_token});
    const Answer answer = post(provider.token_url, form);
    if (!answer.failure.isEmpty()) {
        return {TokenReply::Failed, {}, answer.failure};
    }
    return read_token_reply(answer.http_status, answer.body, QDateTime::currentDateTimeUtc());
}

QString TokenEndpoint::revoke(const OAuthProvider& provider, const QString& refresh_token) {
    if (provider.revocation_url.isEmpty()) {
        return {};
    }
    auto form = client_fields(provider);
    form.append({QStringLiteral("token"), refresh_token});
    form.append({QStringLiteral("token_type_hint"), QStringLiteral("refresh_token")});
    const Answer answer = post(provider.revocation_url, form);
    if (!answer.failure.isEmpty() || answer.http_status == 200) {
        return answer.failure;
    }
    return read_token_reply(answer.http_status, answer.body, {}).reason;
}

TokenEndpoint::Answer TokenEndpoint::post(const QUrl& url,
                                          const QList<QPair<QString, QString>>& form) {
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(timeout_ms_);
    QNetworkReply* reply = network_.post(request, form_body(form));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    Answer answer;
    answer.http_status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll();
    if (answer.http_status == 0) {
        answer.failure =
            QStringLiteral("no answer from %1: %2").arg(url.host(), reply->errorString());
    }
    reply->deleteLater();
    return answer;
}

}  // namespace ostrel
