#include "core/data_files.h"

#include <QFileInfo>

namespace ostrel {

bool ordinary_file_exists(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && info.isFile() && !info.isHidden();
}

QString unsafe_server_name_reason(const QString& server) {
    if (server == QLatin1String(".") || server == QLatin1String("..")) {
        return QStringLiteral("the server name \"%1\" cannot name a seen-state file").arg(server);
    }
    for (const QChar c : server) {
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
