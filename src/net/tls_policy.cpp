#include "net/tls_policy.h"

#include <QStringList>

namespace ostrel {

namespace {

QString reason_for(const QSslError& error) {
    switch (error.error()) {
        case QSslError::CertificateExpired:
            return QStringLiteral("the server's certificate has expired");
        case QSslError::CertificateNotYetValid:
            return QStringLiteral("the server's certificate is not valid yet");
        case QSslError::HostNameMismatch:
            return QStringLiteral("the server's certificate is for another host name");
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::CertificateUntrusted:
            return QStringLiteral("the server's certificate comes from an untrusted issuer");
        case QSslError::CertificateRevoked:
            return QStringLiteral("the server's certificate has been revoked");
        case QSslError::NoPeerCertificate:
            return QStringLiteral("the server sent no certificate");
        default:
            return QStringLiteral("the server's certificate was refused (%1)")
                .arg(error.errorString());
    }
}

}  // namespace

QSslConfiguration tls_configuration(const QList<QSslCertificate>& extra_authorities) {
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!extra_authorities.isEmpty()) {
        configuration.addCaCertificates(extra_authorities);
    }
    return configuration;
}

QString tls_refusal_reason(const QList<QSslError>& errors) {
    QStringList reasons;
    for (const QSslError& error : errors) {
        const QString reason = reason_for(error);
        if (!reasons.contains(reason)) {
            reasons << reason;
        }
    }
    if (reasons.isEmpty()) {
        return QStringLiteral("the secure connection could not be set up");
    }
    return reasons.join(QStringLiteral("; "));
}

QString tls_failure_log_line(const QString& server, const QString& reason) {
    return QStringLiteral("Secure connection to ") + server + QStringLiteral(" failed: ") + reason;
}

}  // namespace ostrel
