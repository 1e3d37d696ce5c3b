#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>

namespace ostrel {

// The SASL mechanisms that carry an OAuth 2.0 bearer token instead of a
// password: OAUTHBEARER (RFC 7628) and the older XOAUTH2 that Microsoft and
// Google introduced. Both put everything in the client's first response, so
// a POP3 client sends "AUTH <name> <initial response>" (RFC 5034). Neither
// protects the token: send them only over TLS.
enum class BearerMechanism { OAuthBearer, XOAuth2 };

QString mechanism_name(BearerMechanism mechanism);

// What the client sends first, base64-encoded. OAUTHBEARER names the server
// the client believes it talks to (host and port); XOAUTH2 does not.
QByteArray bearer_initial_response(BearerMechanism mechanism, const QString& login,
                                   const QString& token, const QString& host, quint16 port);

// The client's answer to a server's error challenge, after which the server
// ends the exchange with its failure reply: ^A for OAUTHBEARER (RFC 7628
// section 3.2.3), an empty response for XOAUTH2.
QByteArray bearer_challenge_answer(BearerMechanism mechanism);

// Why the server refused a token, from its error challenge: base64 of a JSON
// object with "status" (an OAuth error code or an HTTP status such as "401")
// and perhaps "scope". The text names the status and the scope the server
// asked for; a challenge that is no such object says so. Never holds the
// challenge's bytes as they came, which the log must not take unchecked.
QString bearer_refusal_reason(const QByteArray& base64_challenge);

// The mechanisms named by one line of a POP3 CAPA listing when it is the
// "SASL" line (in any letter case), upper-cased; an empty list for any other.
QStringList sasl_mechanisms(QStringView capa_line);

// The bearer mechanism to use among those a server offers: OAUTHBEARER, the
// standard one, before XOAUTH2; none when the server offers neither.
[[nodiscard]] std::optional<BearerMechanism> choose_bearer_mechanism(const QStringList& offered);

}  // namespace ostrel
