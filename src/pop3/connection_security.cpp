#include "pop3/connection_security.h"

#include <QRegularExpression>

#include "net/tls_policy.h"
#include "pop3/pop3_session.h"

namespace ostrel {

ConnectionSecurity::ConnectionSecurity(const AppContext& context, Pop3Session& session)
    : context_(context), session_(session) {
    session_.set_certificate_judge(
        [this](const QSslCertificate& certificate, const QList<QSslError>& errors) {
            return trust_certificate(certificate, errors);
        });
}

// On a plain connection: upgraded when the server offers STLS. A server that
// offered it once and does not now may have an attacker in between: it is
// sent nothing more, the password least of all.
WaitResult ConnectionSecurity::secure(bool offers_stls) {
    const QString& server = context_.state.server;
    if (session_.is_encrypted()) {
        return WaitResult::Answered;
    }
    std::optional<ServerTrust> trust = load_trust();
    if (!trust) {
        return WaitResult::NotConnected;
    }
    if (offers_stls) {
        if (!trust->offered_stls) {
            trust->offered_stls = true;
            keep_trust(*trust, QStringLiteral("the STLS mark"));
        }
        return start_tls();
    }
    if (trust->offered_stls) {
        context_.log.log_event(tls_failure_log_line(
            server, QStringLiteral("it offered STLS before and does not now, so someone may be "
                                   "in between; nothing was sent (if the server really stopped "
                                   "offering STLS, delete %1)")
                        .arg(trust_path())));
        return WaitResult::NotConnected;
    }
    if (!reported_unencrypted_.contains(server)) {
        reported_unencrypted_.insert(server);
        context_.log.log_event(server + QStringLiteral(": the server does not offer STLS, so "
                                                       "the password travels unencrypted"));
    }
    return WaitResult::Answered;
}

WaitResult ConnectionSecurity::start_tls() {
    const QString& server = context_.state.server;
    const WaitResult asked = session_.sendMsg(QStringLiteral("STLS"));
    if (asked != WaitResult::Answered) {
        return asked;
    }
    if (session_.reply().reply_err()) {
        const QString reply =
            session_.reply().reply_text().split(QRegularExpression(QStringLiteral("[\r\n]")))[0];
        context_.log.log_event(tls_failure_log_line(
            server, QStringLiteral("the server refused STLS (%1)").arg(reply.left(200))));
        return WaitResult::NotConnected;
    }
    return session_.start_tls();
}

// A certificate the system refused: accepted when its fingerprint is pinned
// for this server, otherwise the user is asked whether to pin it.
bool ConnectionSecurity::trust_certificate(const QSslCertificate& certificate,
                                           const QList<QSslError>& errors) {
    const QString& server = context_.state.server;
    std::optional<ServerTrust> trust = load_trust();
    if (!trust || certificate.isNull()) {
        return false;
    }
    const QString fingerprint = certificate_fingerprint(certificate);
    if (trust->pins.contains(fingerprint)) {
        return true;
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
    if (context_.prompt(text, QStringLiteral("Untrusted certificate"), PromptIcon::Exclamation,
                        PromptButtons::YesNo) != PromptAnswer::Yes) {
        return false;
    }
    trust->pins << fingerprint;
    keep_trust(*trust, QStringLiteral("the trusted certificate %1").arg(fingerprint));
    return true;
}

// The server's security file; nothing, logged, when it is damaged, so that
// a lost STLS mark never lets a password go out in clear.
std::optional<ServerTrust> ConnectionSecurity::load_trust() {
    const QString path = trust_path();
    if (path.isEmpty()) {
        return ServerTrust();
    }
    const QString& server = context_.state.server;
    QString problem;
    std::optional<ServerTrust> trust = load_server_trust(path, server, &problem);
    if (!trust) {
        context_.log.log_event(
            QStringLiteral("%1: the security file %2 cannot be used (%3), so nothing was sent; "
                           "delete it to connect again")
                .arg(server, path, problem));
    }
    return trust;
}

void ConnectionSecurity::keep_trust(const ServerTrust& trust, const QString& what) {
    const QString& server = context_.state.server;
    const QString path = trust_path();
    const QString error = path.isEmpty() ? unsafe_server_name_reason(server)
                                         : write_server_trust(path, server, trust);
    if (error.isEmpty()) {
        context_.log.log_event(QStringLiteral("%1: %2 is kept in %3").arg(server, what, path));
    } else {
        context_.log.log_event(
            QStringLiteral("%1: %2 could not be kept: %3").arg(server, what, error));
    }
}

// Beside the seen-state file; empty when the server's name cannot name a file.
QString ConnectionSecurity::trust_path() const {
    const QString& server = context_.state.server;
    return unsafe_server_name_reason(server).isEmpty()
               ? context_.files.path(server_trust_file_name(server))
               : QString();
}

}  // namespace ostrel
