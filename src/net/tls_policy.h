#pragma once

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QString>

namespace ostrel {

// TLS 1.2 or newer, the peer verified against the system's trusted
// certificates plus `extra_authorities` (empty in the product).
QSslConfiguration tls_configuration(const QList<QSslCertificate>& extra_authorities);

// Why a certificate was refused, in plain words, one reason per kind of
// error: "the server's certificate has expired; ...".
QString tls_refusal_reason(const QList<QSslError>& errors);

// The log line written before a secure connection counts as failed.
QString tls_failure_log_line(const QString& server, const QString& reason);

}  // namespace ostrel
