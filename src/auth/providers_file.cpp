#include "auth/providers_file.h"

#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QUrlQuery>

#include "core/event_log.h"
#include "core/whole_file.h"

namespace ostrel {

namespace {

struct Section {
    OAuthProvider provider;
    int line = 0;
};

// Sets one setting of `provider`; returns why it could not, or empty.
QString apply_setting(OAuthProvider& provider, const QString& key, const QString& value) {
    if (key == QLatin1String("servers")) {
        static const QRegularExpression kSeparators(QStringLiteral("[\\s,]+"));
        provider.servers = value.toLower().split(kSeparators, Qt::SkipEmptyParts);
    } else if (key == QLatin1String("authorization url") || key == QLatin1String("token url") ||
               key == QLatin1String("revocation url")) {
        const QUrl url(value, QUrl::StrictMode);
        if (!safe_token_url(url)) {
            return QStringLiteral("\"%1\" is not an https address (or http on this machine)")
                .arg(value);
        }
        QUrl& field = key.startsWith(QLatin1String("authorization")) ? provider.authorization_url
                      : key.startsWith(QLatin1String("token"))       ? provider.token_url
                                                                     : provider.revocation_url;
        field = url;
    } else if (key == QLatin1String("scope")) {
        provider.pop3_scope = value;
    } else if (key == QLatin1String("imap scope")) {
        provider.imap_scope = value;
    } else if (key == QLatin1String("client id")) {
        provider.client_id = value;
    } else if (key == QLatin1String("client secret")) {
        provider.client_secret = value;
    } else if (key == QLatin1String("authorization parameters")) {
        provider.authorization_parameters = QUrlQuery(value).queryItems(QUrl::FullyDecoded);
    } else {
        return QStringLiteral("unknown setting \"%1\"").arg(key);
    }
    return {};
}

QString lacks(const OAuthProvider& provider) {
    QStringList missing;
    if (provider.servers.isEmpty()) {
        missing << QStringLiteral("servers");
    }
    if (provider.authorization_url.isEmpty()) {
        missing << QStringLiteral("authorization url");
    }
    if (provider.token_url.isEmpty()) {
        missing << QStringLiteral("token url");
    }
    if (provider.pop3_scope.isEmpty()) {
        missing << QStringLiteral("scope");
    }
    return missing.join(QStringLiteral(", "));
}

// The file as read so far: its providers, and its problems by line number.
struct Reading {
    QList<OAuthProvider> presets;
    QList<Section> sections;
    QMap<int, QString> problems;

    void begin_section(int number, const QString& name) {
        Section section{{}, number};
        section.provider.name = name;
        for (qsizetype i = 0; i < presets.size(); ++i) {
            if (presets[i].name.compare(name, Qt::CaseInsensitive) == 0) {
                section.provider = presets.takeAt(i);
                break;
            }
        }
        sections.append(section);
        if (name.isEmpty()) {
            problems.insert(number, QStringLiteral("a provider needs a name"));
        }
    }

    void set(int number, const QString& line) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        QString why;
        if (equals < 0) {
            why = QStringLiteral("neither \"[provider]\" nor \"setting = value\"");
        } else if (sections.isEmpty()) {
            why = QStringLiteral("a setting before any \"[provider]\" line");
        } else {
            why = apply_setting(sections.last().provider, line.left(equals).simplified().toLower(),
                                line.mid(equals + 1).trimmed());
        }
        if (!why.isEmpty()) {
            problems.insert(number, why);
        }
    }

    ProvidersFile result() {
        ProvidersFile file;
        for (const Section& section : qAsConst(sections)) {
            const QString missing = lacks(section.provider);
            if (!missing.isEmpty() && !section.provider.name.isEmpty()) {
                problems.insert(section.line,
                                QStringLiteral("provider \"%1\" has no %2 and is not used")
                                    .arg(section.provider.name, missing));
            } else if (missing.isEmpty()) {
                file.providers << section.provider;
            }
        }
        file.providers << presets;
        for (auto problem = problems.cbegin(); problem != problems.cend(); ++problem) {
            file.problems << QStringLiteral("line %1: %2").arg(problem.key()).arg(problem.value());
        }
        return file;
    }
};

}  // namespace

ProvidersFile parse_providers_file(const QByteArray& content, QList<OAuthProvider> presets) {
    Reading reading{std::move(presets), {}, {}};
    QString text = QString::fromUtf8(content);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int number = 1; number <= lines.size(); ++number) {
        const QString line = lines[number - 1].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) ||
            line.startsWith(QLatin1Char(';'))) {
            continue;
        }
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            reading.begin_section(number, line.mid(1, line.size() - 2).trimmed());
        } else {
            reading.set(number, line);
        }
    }
    return reading.result();
}

ProviderCatalogue::ProviderCatalogue(QString path, EventLog& log)
    : path_(std::move(path)), log_(log) {}

std::optional<OAuthProvider> ProviderCatalogue::for_server(const QString& server) {
    QFile file(path_);
    QByteArray content;
    QString unreadable;
    if (file.open(QIODevice::ReadOnly)) {
        content = file.readAll();
    } else if (file.exists()) {
        unreadable = file_failure(QStringLiteral("cannot open"), file);
    }
    if (!last_content_ || *last_content_ != content) {
        last_content_ = content;
        current_ = parse_providers_file(content, preset_providers());
        if (!unreadable.isEmpty()) {
            log_.log_event(unreadable + QStringLiteral(" (only the built-in providers are known)"));
        }
        for (const QString& ignored : current_.problems) {
            log_.log_event(QStringLiteral("%1 %2 (ignored)").arg(path_, ignored));
        }
    }
    for (const OAuthProvider& provider : current_.providers) {
        if (provider.serves(server)) {
            return provider;
        }
    }
    return std::nullopt;
}

}  // namespace ostrel
