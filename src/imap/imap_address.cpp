#include "imap/imap_address.h"

#include <QUrl>

namespace ostrel::imap {

MailboxAddress parse_mailbox_address(const QString& server) {
    MailboxAddress address;
    address.implicit_tls = server.startsWith(QLatin1String("imaps://"), Qt::CaseInsensitive);
    if (!address.implicit_tls &&
        !server.startsWith(QLatin1String("imap://"), Qt::CaseInsensitive)) {
        return address;
    }
    address.protocol = MailboxProtocol::Imap;
    const QUrl url(server, QUrl::StrictMode);
    const int port = url.port(address.implicit_tls ? kImapsPort : kImapPort);
    // The reasons never repeat the field: it may hold a password before an "@".
    if (!url.isValid() || url.host().isEmpty() || port == 0) {
        address.error = QStringLiteral(
            "an IMAP server is written imaps://host[:port] or imap://host[:port], "
            "an IPv6 address in brackets");
    } else if (!url.userInfo().isEmpty()) {
        address.error = QStringLiteral("the server field holds a login; it has its own field");
    } else if ((!url.path().isEmpty() && url.path() != QLatin1String("/")) || url.hasQuery() ||
               url.hasFragment()) {
        address.error = QStringLiteral(
            "the server field names more than a server (the mailbox "
            "read is INBOX)");
    } else {
        address.host = url.host();
        address.port = quint16(port);
    }
    return address;
}

}  // namespace ostrel::imap
