#pragma once

#include <QList>
#include <QSet>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <optional>

#include "core/app_context.h"
#include "net/server_trust.h"

namespace ostrel {

class Pop3Session;
enum class WaitResult;

// Keeps passwords off plain connections: upgrades a connection when the
// server offers STLS, refuses a server that offered it before and does not
// now, and asks the user about certificates the system refuses, pinning
// those the user trusts. What it knows of a server is kept in the server's
// security file beside its seen state.
class ConnectionSecurity {
public:
    // Becomes `session`'s certificate judge.
    ConnectionSecurity(const AppContext& context, Pop3Session& session);

    // After CAPA on the connection to `context.state.server`: Answered when
    // the dialogue may go on; NotConnected when it must not (logged); Ending;
    // otherwise how the wait for the reply to STLS ended.
    WaitResult secure(bool offers_stls);

private:
    WaitResult start_tls();
    bool trust_certificate(const QSslCertificate& certificate, const QList<QSslError>& errors);
    std::optional<ServerTrust> load_trust();
    void keep_trust(const ServerTrust& trust, const QString& what);
    QString trust_path() const;

    AppContext context_;
    Pop3Session& session_;
    QSet<QString> reported_unencrypted_;  // servers whose clear-text login was logged this run
};

}  // namespace ostrel
