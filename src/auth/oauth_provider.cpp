#include "auth/oauth_provider.h"

#include <QHostAddress>

// Client registrations a distributor builds in (CMake options of the same names).
#ifndef OSTREL_OAUTH_MICROSOFT_CLIENT_ID
#define OSTREL_OAUTH_MICROSOFT_CLIENT_ID ""
#endif
#ifndef OSTREL_OAUTH_GOOGLE_CLIENT_ID
#define OSTREL_OAUTH_GOOGLE_CLIENT_ID ""
#endif
#ifndef OSTREL_OAUTH_GOOGLE_CLIENT_SECRET
#define OSTREL_OAUTH_GOOGLE_CLIENT_SECRET ""
#endif

namespace ostrel {

QString OAuthProvider::scope(MailProtocol protocol) const {
    return protocol == MailProtocol::Imap && !imap_scope.isEmpty() ? imap_scope : pop3_scope;
}

bool OAuthProvider::serves(const QString& server) const {
    return servers.contains(server_host(server));
}

QString OAuthProvider::missing_registration() const {
    if (client_id.isEmpty()) {
        return QStringLiteral("This copy of Ostrel has no client id for %1.").arg(name);
    }
    if (secret_required && client_secret.isEmpty()) {
        return QStringLiteral("This copy of Ostrel has a client id but no client secret for %1.")
            .arg(name);
    }
    return {};
}

QList<OAuthProvider> preset_providers() {
    OAuthProvider microsoft;
    microsoft.name = QStringLiteral("Microsoft");
    microsoft.servers =
        QStringList{QStringLiteral("outlook.office365.com"), QStringLiteral("pop-mail.outlook.com"),
                    QStringLiteral("imap-mail.outlook.com")};
    const QString entra = QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/");
    microsoft.authorization_url = QUrl(entra + QStringLiteral("authorize"));
    microsoft.token_url = QUrl(entra + QStringLiteral("token"));
    microsoft.pop3_scope =
        QStringLiteral("https://outlook.office.com/POP.AccessAsUser.All offline_access");
    microsoft.imap_scope =
        QStringLiteral("https://outlook.office.com/IMAP.AccessAsUser.All offline_access");
    microsoft.client_id = QStringLiteral(OSTREL_OAUTH_MICROSOFT_CLIENT_ID);

    OAuthProvider google;
    google.name = QStringLiteral("Google");
    google.servers = QStringList{QStringLiteral("pop.gmail.com"), QStringLiteral("imap.gmail.com")};
    google.authorization_url = QUrl(QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth"));
    google.token_url = QUrl(QStringLiteral("https://oauth2.googleapis.com/token"));
    google.revocation_url = QUrl(QStringLiteral("https://oauth2.googleapis.com/revoke"));
    google.pop3_scope = QStringLiteral("https://mail.google.com/");
    google.client_id = QStringLiteral(OSTREL_OAUTH_GOOGLE_CLIENT_ID);
    google.client_secret = QStringLiteral(OSTREL_OAUTH_GOOGLE_CLIENT_SECRET);
    google.secret_required = true;
    // Without these Google grants no refresh token, or none on a second sign-in.
    google.authorization_parameters = {{QStringLiteral("access_type"), QStringLiteral("offline")},
                                       {QStringLiteral("prompt"), QStringLiteral("consent")}};
    return {microsoft, google};
}

MailProtocol mail_protocol(const QString& server) {
    const QString field = server.trimmed();
    return field.startsWith(QLatin1String("imap://"), Qt::CaseInsensitive) ||
                   field.startsWith(QLatin1String("imaps://"), Qt::CaseInsensitive)
               ? MailProtocol::Imap
               : MailProtocol::Pop3;
}

QString server_host(const QString& server) {
    QString host = server.trimmed().toLower();
    if (mail_protocol(host) == MailProtocol::Imap) {
        host = host.mid(host.indexOf(QLatin1String("://")) + 3);
        if (host.endsWith(QLatin1Char('/'))) {
            host.chop(1);
        }
    }
    if (host.startsWith(QLatin1Char('['))) {
        return host.mid(1, host.indexOf(QLatin1Char(']')) - 1);
    }
    if (host.count(QLatin1Char(':')) == 1) {
        host.truncate(host.indexOf(QLatin1Char(':')));
    }
    return host;
}

bool safe_token_url(const QUrl& url) {
    if (!url.isValid() || url.host().isEmpty()) {
        return false;
    }
    if (url.scheme() == QLatin1String("https")) {
        return true;
    }
    const QHostAddress address(url.host());
    return url.scheme() == QLatin1String("http") &&
           (url.host() == QLatin1String("localhost") || address.isLoopback());
}

}  // namespace ostrel
