#pragma once

#include <QString>

namespace ostrel {

// Names of the data files inside the program folder.
struct DataFiles {
    QString folder;

    QString path(const QString& name) const { return folder + QLatin1Char('/') + name; }
    QString log() const { return path(QStringLiteral("logfile.txt")); }
    QString accounts() const { return path(QStringLiteral("lumetta_pop.cfg")); }
    QString settings() const { return path(QStringLiteral("general.cfg")); }
    QString debug_switch() const { return path(QStringLiteral("debuga.txt")); }
    QString seen_state(const QString& server) const {
        return path(server + QStringLiteral(".svr"));
    }
};

// Why a server text cannot name a seen-state file in the program folder ("/",
// "\", a control character, "." or ".."), or empty when it can.
[[nodiscard]] QString unsafe_server_name_reason(const QString& server);

// True when `path` names an ordinary, visible file (folders and hidden files do not count).
bool ordinary_file_exists(const QString& path);

}  // namespace ostrel
