#include "auth/sasl.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace ostrel {

namespace {

constexpr char kSeparator = '\x01';

// RFC 7628 takes the login into a GS2 header, where "," and "=" are escaped.
QByteArray gs2_name(const QString& login) {
    QByteArray name = login.toUtf8();
    name.replace("=", "=3D");
    name.replace(",", "=2C");
    return name;
}

// An OAuth error code or scope as the log may show it: printable ASCII only.
bool printable_token(const QString& text) {
    static const QRegularExpression kPrintable(QStringLiteral("^[\\x21-\\x7e ]{1,200}$"));
    return kPrintable.match(text).hasMatch();
}

}  // namespace

QString mechanism_name(BearerMechanism mechanism) {
    return mechanism == BearerMechanism::OAuthBearer ? QStringLiteral("OAUTHBEARER")
                                                     : QStringLiteral("XOAUTH2");
}

QByteArray bearer_initial_response(BearerMechanism mechanism, const QString& login,
                                   const QString& token, const QString& host, quint16 port) {
    const QByteArray bearer = "auth=Bearer " + token.toUtf8() + kSeparator + kSeparator;
    if (mechanism == BearerMechanism::XOAuth2) {
        return ("user=" + login.toUtf8() + kSeparator + bearer).toBase64();
    }
    return ("n,a=" + gs2_name(login) + "," + kSeparator + "host=" + host.toUtf8() + kSeparator +
            "port=" + QByteArray::number(port) + kSeparator + bearer)
        .toBase64();
}

QByteArray bearer_challenge_answer(BearerMechanism mechanism) {
    return mechanism == BearerMechanism::OAuthBearer ? QByteArray(1, kSeparator).toBase64()
                                                     : QByteArray();
}

QString bearer_refusal_reason(const QByteArray& base64_challenge) {
    const auto decoded = QByteArray::fromBase64Encoding(base64_challenge.trimmed(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    const QJsonObject error = QJsonDocument::fromJson(decoded.decoded).object();
    const QString status = error.value(QStringLiteral("status")).toString();
    if (!decoded || !printable_token(status)) {
        return QStringLiteral("the server refused the token without a readable reason");
    }
    QString reason = QStringLiteral("the server refused the token (%1)").arg(status);
    const QString scope = error.value(QStringLiteral("scope")).toString();
    if (printable_token(scope)) {
        reason += QStringLiteral(", asking for the scope \"%1\"").arg(scope);
    }
    return reason;
}

QStringList sasl_mechanisms(QStringView capa_line) {
    const QList<QStringView> words = capa_line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty() || words.first().compare(u"SASL", Qt::CaseInsensitive) != 0) {
        return {};
    }
    QStringList names;
    for (qsizetype i = 1; i < words.size(); ++i) {
        names << words[i].toString().toUpper();
    }
    return names;
}

std::optional<BearerMechanism> choose_bearer_mechanism(const QStringList& offered) {
    for (BearerMechanism mechanism : {BearerMechanism::OAuthBearer, BearerMechanism::XOAuth2}) {
        if (offered.contains(mechanism_name(mechanism))) {
            return mechanism;
        }
    }
    return std::nullopt;
}

}  // namespace ostrel
