#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "auth/oauth_provider.h"

namespace ostrel {

class EventLog;

// The providers file (oauth_providers.cfg in the data folder), which the
// user edits to add a provider or to use a client registration of their own:
//
//   # a comment
//   [Microsoft]
//   client id = 00000000-0000-0000-0000-000000000000
//
//   [Example Mail]
//   servers = pop.example.com imap.example.com
//   authorization url = https://login.example.com/authorize
//   token url = https://login.example.com/token
//   revocation url = https://login.example.com/revoke
//   scope = mail offline_access
//   client id = ostrel
//
// A section named like a preset (Microsoft, Google) changes only the settings
// it gives. Keys are case-insensitive; lines may end in CR LF, CR or LF.
inline const QString kProvidersFileName = QStringLiteral("oauth_providers.cfg");

struct ProvidersFile {
    QList<OAuthProvider> providers;  // the file's own first, then the presets
    QStringList problems;            // "line N: ...": what was ignored, and why
};

// Reads the file's content. A line that cannot be read, an unknown setting,
// an address that would send tokens in clear, or a provider that lacks
// endpoints, servers or a scope is named in `problems` and ignored; every
// other line still counts.
[[nodiscard]] ProvidersFile parse_providers_file(const QByteArray& content,
                                                 QList<OAuthProvider> presets);

// The providers as the file says at each lookup, so that an edit counts at
// once. The problems of each new content of the file are logged once.
class ProviderCatalogue {
public:
    ProviderCatalogue(QString path, EventLog& log);

    // The provider serving `server`, if any.
    [[nodiscard]] std::optional<OAuthProvider> for_server(const QString& server);
    const QString& path() const { return path_; }

private:
    QString path_;
    EventLog& log_;
    std::optional<QByteArray> last_content_;
    ProvidersFile current_;
};

}  // namespace ostrel
