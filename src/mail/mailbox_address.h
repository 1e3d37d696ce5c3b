#pragma once

#include <QString>

namespace ostrel {

constexpr quint16 kImapPort = 143;
constexpr quint16 kImapsPort = 993;

enum class MailboxProtocol { Pop3, Imap };

// What an account's server field names: a POP3 server (the field as before,
// "host", "host:port", "[v6]:port") or an IMAP server.
struct MailboxAddress {
    MailboxProtocol protocol = MailboxProtocol::Pop3;
    // For IMAP only:
    QString host;
    quint16 port = 0;
    bool implicit_tls = false;  // TLS from the first byte; else plain, upgraded by STARTTLS
    QString error;              // why the field cannot name an IMAP server; empty when it can
};

// A field that begins with "imaps://" or "imap://" (any letter case, see
// imap_scheme) names an IMAP server: "imaps://host[:port]" speaks TLS from
// the first byte (port 993), "imap://host[:port]" begins in plain text (port
// 143), an IPv6 address in brackets, a "/" at the end allowed. No host name
// holds "//", so every other field is a POP3 server exactly as older accounts
// files wrote it.
MailboxAddress parse_mailbox_address(const QString& server);

}  // namespace ostrel
