#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace ostrel {

enum class MailProtocol { Pop3, Imap };

// Where and how an account signs in with OAuth 2.0: the provider's endpoints,
// the mail servers it serves, the scopes a mail program asks for, and the
// client registration this copy of Ostrel uses there.
struct OAuthProvider {
    QString name;
    QStringList servers;  // host names, lower case
    QUrl authorization_url;
    QUrl token_url;
    QUrl revocation_url;  // empty where the provider offers no revocation (RFC 7009)
    QString pop3_scope;
    QString imap_scope;  // empty: the POP3 scope serves IMAP too
    QString client_id;
    // Some providers give desktop programs a client secret that is no secret
    // (anyone can read it in the program) but must still be sent.
    QString client_secret;
    bool secret_required = false;
    QList<QPair<QString, QString>> authorization_parameters;  // extra, for the browser page

    QString scope(MailProtocol protocol) const;
    bool serves(const QString& server) const;
    // Why this copy cannot sign in with the provider: no client id (or no
    // secret where one is required). Empty when it can.
    QString missing_registration() const;
};

// The providers Ostrel knows without a providers file: Microsoft (Outlook.com
// and Microsoft 365) and Google, with the client ids the build was given.
QList<OAuthProvider> preset_providers();

// The host of a server as the accounts file writes it: "host", "host:port",
// "[IPv6]:port" or a bare IPv6 address, each also after "imap://" or
// "imaps://"; lower case.
QString server_host(const QString& server);

// The protocol a server field names: IMAP for the "imap://" and "imaps://"
// forms (any letter case), POP3 for every other.
MailProtocol mail_protocol(const QString& server);

// A URL tokens may be sent to: https, or http to this machine only.
bool safe_token_url(const QUrl& url);

}  // namespace ostrel
