#pragma once

#include <QList>
#include <QSet>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <functional>
#include <optional>

#include "core/data_files.h"
#include "core/prompt.h"
#include "net/connection.h"
#include "net/server_trust.h"

namespace ostrel {

class EventLog;

// Keeps passwords off plain connections: upgrades a connection when the
// server offers the protocol's TLS upgrade (POP3's STLS, IMAP's STARTTLS),
// refuses a server that offered it before and does not now, refuses a
// certificate the system does not verify for a server whose certificate it
// verified before, and asks the user about other certificates the system
// refuses, pinning the one the user trusts.
// What it knows of a server is kept in the server's security file beside its
// seen state, in the program folder `files`; what it decides goes to `log`.
class ConnectionSecurity {
public:
    // Becomes `connection`'s certificate judge. `upgrade_command` names the
    // protocol's upgrade in log lines.
    ConnectionSecurity(const DataFiles& files, EventLog& log, const Prompt& prompt,
                       Connection& connection, QString upgrade_command);

    // After the server answered the capability request on the connection to
    // `server` (never after a request it left unanswered: that says nothing
    // of the upgrade): Answered when the dialogue may go on; NotConnected
    // when it must not (logged); Ending; otherwise how `upgrade`, which sends
    // the upgrade command and runs the handshake when the server agrees, ended.
    [[nodiscard]] WaitResult secure(const QString& server, bool offers_upgrade,
                                    const std::function<WaitResult()>& upgrade);

private:
    CertificateVerdict trust_certificate(const QString& server, const QSslCertificate& certificate,
                                         const QList<QSslError>& errors);
    void remember_verification(const QString& server);
    [[nodiscard]] std::optional<ServerTrust> load_trust(const QString& server);
    void keep_trust(const QString& server, const ServerTrust& trust, const QString& what);
    QString trust_path(const QString& server) const;

    const DataFiles& files_;
    EventLog& log_;
    const Prompt& prompt_;
    Connection& connection_;
    QString upgrade_command_;
    QSet<QString> reported_unencrypted_;  // servers whose clear-text login was logged this run
};

}  // namespace ostrel
