#include "mail/mailbox_address.h"

#include <QUrl>

#include "core/data_files.h"

namespace ostrel {

MailboxAddress parse_mailbox_address(const QString& server) {
    MailboxAddress address;
    const QString scheme = imap_scheme(server);
    if (scheme.isEmpty()) {
        return address;
    }
    address.protocol = MailboxProtocol::Imap;
    address.implicit_tls = scheme == QLatin1String("imaps");
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

}  // namespace ostrel
