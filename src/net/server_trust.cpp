#include "net/server_trust.h"

#include <QCryptographicHash>
#include <QFile>
#include <QList>

#include "core/data_files.h"
#include "core/whole_file.h"

namespace ostrel {

namespace {

const QByteArray kFormat = QByteArrayLiteral("Ostrel server security 1\r\n");
const QByteArray kLineEnd = QByteArrayLiteral("\r\n");
const QByteArray kStls = QByteArrayLiteral("STLS");
const QByteArray kVerified = QByteArrayLiteral("verified");
const QByteArray kPin = QByteArrayLiteral("pin ");

bool is_fingerprint(QByteArrayView text) {
    constexpr qsizetype kLength = 32 * 3 - 1;
    if (text.size() != kLength) {
        return false;
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
        if (i % 3 == 2 ? c != ':' : !hex) {
            return false;
        }
    }
    return true;
}

}  // namespace

QString server_trust_file_name(const QString& server) {
    return account_file_stem(server) + QStringLiteral(".tls");
}

QString certificate_fingerprint(const QSslCertificate& certificate) {
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
}

QByteArray server_trust_content(const QString& server, const ServerTrust& trust) {
    QByteArray content = kFormat + account_file_stem(server).toUtf8() + kLineEnd;
    if (trust.offered_stls) {
        content += kStls + kLineEnd;
    }
    if (trust.verified) {
        content += kVerified + kLineEnd;
    }
    for (const QString& pin : trust.pins) {
        content += kPin + pin.toLatin1() + kLineEnd;
    }
    return content;
}

std::optional<ServerTrust> parse_server_trust(const QByteArray& content, const QString& server,
                                              QString* problem) {
    const QByteArray heading = kFormat + account_file_stem(server).toUtf8() + kLineEnd;
    if (!content.startsWith(heading) || !content.endsWith(kLineEnd)) {
        *problem = QStringLiteral("it is not this server's security file");
        return std::nullopt;
    }
    ServerTrust trust;
    const QList<QByteArray> lines = content.sliced(heading.size()).split('\n');
    for (qsizetype n = 0; n + 1 < lines.size(); ++n) {
        const QByteArray line = lines[n].chopped(lines[n].endsWith('\r') ? 1 : 0);
        if (line == kStls) {
            trust.offered_stls = true;
        } else if (line == kVerified) {
            trust.verified = true;
        } else if (line.startsWith(kPin) && is_fingerprint(line.sliced(kPin.size()))) {
            trust.pins << QString::fromLatin1(line.sliced(kPin.size()));
        } else {
            *problem = QStringLiteral("line %1 is damaged").arg(n + 3);
            return std::nullopt;
        }
    }
    return trust;
}

std::optional<ServerTrust> load_server_trust(const QString& path, const QString& server,
                                             QString* problem) {
    QFile file(path);
    if (!file.exists()) {
        return ServerTrust();
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("it cannot be read: %1").arg(file.errorString());
        return std::nullopt;
    }
    return parse_server_trust(file.readAll(), server, problem);
}

QString write_server_trust(const QString& path, const QString& server, const ServerTrust& trust) {
    return replace_whole_file(path, server_trust_content(server, trust));
}

}  // namespace ostrel
