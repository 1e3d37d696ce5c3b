#pragma once

#include <QByteArray>
#include <QSslCertificate>
#include <QString>
#include <QStringList>
#include <optional>

namespace ostrel {

// What the program remembers about one server's security, kept beside its
// seen-state file: whether it ever offered STLS (so that a later connection
// without it is refused rather than sent a password in clear), whether the
// system verified its certificate (so that a certificate the system does not
// verify is refused as a replacement, not asked about), and the fingerprint
// of the certificate the user chose to trust for it.
struct ServerTrust {
    bool offered_stls = false;
    bool verified = false;
    QStringList pins;  // SHA-256 fingerprints, as certificate_fingerprint() writes them
};

// The file and its heading are named by the server's file stem (see
// account_file_stem), which is the server field itself for POP3.
QString server_trust_file_name(const QString& server);

// SHA-256 of the certificate in upper-case hex pairs joined by colons.
QString certificate_fingerprint(const QSslCertificate& certificate);

QByteArray server_trust_content(const QString& server, const ServerTrust& trust);
// Nothing, with `problem` set, when the content is not this server's file.
[[nodiscard]] std::optional<ServerTrust> parse_server_trust(const QByteArray& content,
                                                            const QString& server,
                                                            QString* problem);

// A missing file is an empty trust. A file that cannot be read or is damaged
// gives nothing and its problem.
[[nodiscard]] std::optional<ServerTrust> load_server_trust(const QString& path,
                                                           const QString& server, QString* problem);
// Atomic rewrite; the error, empty on success.
[[nodiscard]] QString write_server_trust(const QString& path, const QString& server,
                                         const ServerTrust& trust);

}  // namespace ostrel
