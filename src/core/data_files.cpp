#include "core/data_files.h"

#include <QFileInfo>

namespace ostrel {

bool ordinary_file_exists(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && info.isFile() && !info.isHidden();
}

QString imap_scheme(const QString& server) {
    for (const QLatin1String scheme : {QLatin1String("imap"), QLatin1String("imaps")}) {
        if (server.startsWith(scheme, Qt::CaseInsensitive) &&
            QStringView(server).mid(scheme.size()).startsWith(QLatin1String("://"))) {
            return scheme;
        }
    }
    return {};
}

QString account_file_stem(const QString& server) {
    const QString scheme = imap_scheme(server);
    if (scheme.isEmpty()) {
        return server;
    }
    QString rest = server.mid(scheme.size() + 3);
    if (rest.endsWith(QLatin1Char('/'))) {
        rest.chop(1);
    }
    return scheme + QLatin1Char('@') + rest;
}

QString unsafe_server_name_reason(const QString& server) {
    const QString stem = account_file_stem(server);
    if (stem == QLatin1String(".") || stem == QLatin1String("..")) {
        return QStringLiteral("the server name \"%1\" cannot name a seen-state file").arg(server);
    }
    for (const QChar c : stem) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\')) {
            return QStringLiteral("the server name \"%1\" holds a path separator").arg(server);
        }
        if (c.category() == QChar::Other_Control) {
            return QStringLiteral("the server name holds a control character");
        }
    }
    return {};
}

}  // namespace ostrel
