#include "net/connection_security.h"

#include "core/event_log.h"
#include "net/connection.h"
#include "net/tls_policy.h"

namespace ostrel {

ConnectionSecurity::ConnectionSecurity(const DataFiles& files, EventLog& log, const Prompt& prompt,
                                       Connection& connection, QString upgrade_command)
    : files_(files),
      log_(log),
      prompt_(prompt),
      connection_(connection),
      upgrade_command_(std::move(upgrade_command)) {
    connection_.set_certificate_judge([this](const QString& server,
                                             const QSslCertificate& certificate,
                                             const QList<QSslError>& errors) {
        return trust_certificate(server, certificate, errors);
    });
}

// On a plain connection: upgraded when the server offers it. A server that
// offered it once and does not now may have an attacker in between: it is
// sent nothing more, the password least of all.
WaitResult ConnectionSecurity::secure(const QString& server, bool offers_upgrade,
                                      const std::function<WaitResult()>& upgrade) {
    std::optional<ServerTrust> trust = load_trust(server);
    if (!trust) {
        return WaitResult::NotConnected;
    }
    if (connection_.is_encrypted()) {
        remember_verification(server);
        return WaitResult::Answered;
    }
    if (offers_upgrade) {
        if (!trust->offered_stls) {
            trust->offered_stls = true;
            keep_trust(server, *trust, QStringLiteral("the %1 mark").arg(upgrade_command_));
        }
        const WaitResult upgraded = upgrade();
        if (upgraded == WaitResult::Answered) {
            remember_verification(server);
        }
        return upgraded;
    }
    if (trust->offered_stls) {
        // Deleting the mark would send the password in clear, to whoever
        // strips the offer, so the way out named is the server's TLS port.
        log_.log_event(tls_failure_log_line(
            server, QStringLiteral("it offered %1 before and does not now, so someone may be "
                                   "in between; nothing was sent (ask your mail provider; if "
                                   "the server serves POP3 over TLS, write it with its TLS "
                                   "port, such as host:995)")
                        .arg(upgrade_command_)));
        return WaitResult::NotConnected;
    }
    if (!reported_unencrypted_.contains(server)) {
        reported_unencrypted_.insert(server);
        log_.log_event(server + QStringLiteral(": the server does not offer %1, so the password "
                                               "travels unencrypted")
                                    .arg(upgrade_command_));
    }
    return WaitResult::Answered;
}

// A certificate the system refused. For a server whose certificate the
// system verified before it is a replacement, refused without a question: one
// Yes would hand the password to whoever is in between. Otherwise it is
// accepted when its fingerprint is pinned for this server, and the user is
// asked whether to pin it in place of any pin before.
CertificateVerdict ConnectionSecurity::trust_certificate(const QString& server,
                                                         const QSslCertificate& certificate,
                                                         const QList<QSslError>& errors) {
    std::optional<ServerTrust> trust = load_trust(server);
    if (!trust || certificate.isNull()) {
        return {};
    }
    if (trust->verified) {
        return {false,
                QStringLiteral("the system verified this server's certificate before and does "
                               "not verify the one it sent now (%1): the trusted certificate "
                               "was replaced, and someone may be in between; nothing was sent "
                               "(if the server's owner really changed it, delete %2 to be "
                               "asked about the new one)")
                    .arg(tls_refusal_reason(errors), trust_path(server))};
    }
    const QString fingerprint = certificate_fingerprint(certificate);
    if (trust->pins.contains(fingerprint)) {
        return {true, {}};
    }
    QStringList reasons;
    for (const QSslError& error : errors) {
        if (!reasons.contains(error.errorString())) {
            reasons << error.errorString();
        }
    }
    QString text =
        QStringLiteral("The mail server %1 sent a certificate that is not trusted:\n- %2\n")
            .arg(server, reasons.join(QStringLiteral("\n- ")));
    if (!trust->pins.isEmpty()) {
        text += QStringLiteral("It is not the certificate you trusted before for this server.\n");
    }
    text += QStringLiteral(
                "\nSHA-256 fingerprint:\n%1\n\nTrust exactly this certificate for %2 "
                "from now on?")
                .arg(fingerprint, server);
    if (prompt_(text, QStringLiteral("Untrusted certificate"), PromptIcon::Exclamation,
                PromptButtons::YesNo) != PromptAnswer::Yes) {
        return {};
    }
    trust->pins = QStringList{fingerprint};
    keep_trust(server, *trust, QStringLiteral("the trusted certificate %1").arg(fingerprint));
    return {true, {}};
}

// A server whose certificate the system verified is remembered as such, from
// then on a certificate it does not verify is a replacement. The system's word
// takes the place of any pin.
void ConnectionSecurity::remember_verification(const QString& server) {
    if (!connection_.verified_by_system() || trust_path(server).isEmpty()) {
        return;
    }
    std::optional<ServerTrust> trust = load_trust(server);
    if (!trust || (trust->verified && trust->pins.isEmpty())) {
        return;
    }
    trust->verified = true;
    trust->pins.clear();
    keep_trust(server, *trust, QStringLiteral("that the system verified its certificate"));
}

// The server's security file; nothing, logged, when it is damaged, so that
// a lost STLS mark never lets a password go out in clear.
std::optional<ServerTrust> ConnectionSecurity::load_trust(const QString& server) {
    const QString path = trust_path(server);
    if (path.isEmpty()) {
        return ServerTrust();
    }
    QString problem;
    std::optional<ServerTrust> trust = load_server_trust(path, server, &problem);
    if (!trust) {
        log_.log_event(
            QStringLiteral("%1: the security file %2 cannot be used (%3), so nothing was sent; "
                           "delete it to connect again")
                .arg(server, path, problem));
    }
    return trust;
}

void ConnectionSecurity::keep_trust(const QString& server, const ServerTrust& trust,
                                    const QString& what) {
    const QString path = trust_path(server);
    const QString error = path.isEmpty() ? unsafe_server_name_reason(server)
                                         : write_server_trust(path, server, trust);
    if (error.isEmpty()) {
        log_.log_event(QStringLiteral("%1: %2 is kept in %3").arg(server, what, path));
    } else {
        log_.log_event(QStringLiteral("%1: %2 could not be kept: %3").arg(server, what, error));
    }
}

// Beside the seen-state file; empty when the server's name cannot name a file.
QString ConnectionSecurity::trust_path(const QString& server) const {
    return unsafe_server_name_reason(server).isEmpty() ? files_.path(server_trust_file_name(server))
                                                       : QString();
}

}  // namespace ostrel
