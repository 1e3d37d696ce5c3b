#pragma once

#include <QString>

namespace ostrel {

// "imap" or "imaps" when the server field names an IMAP server (it begins
// with "imap://" or "imaps://", in any letter case); empty for a POP3 server.
QString imap_scheme(const QString& server);

// The name that an account's files in the program folder (seen state, header
// cache, security file) begin with. A POP3 server field names them as it is
// written; an IMAP field, whose "//" no file name can hold, as its scheme,
// "@" and the rest ("imaps://mail.example.org" gives "imaps@mail.example.org"),
// a "/" at its end left out. No POP3 field that reaches a server holds "@",
// so the two kinds never share a file.
QString account_file_stem(const QString& server);

// Names of the data files inside the program folder.
struct DataFiles {
    QString folder;

    QString path(const QString& name) const { return folder + QLatin1Char('/') + name; }
    QString log() const { return path(QStringLiteral("logfile.txt")); }
    QString accounts() const { return path(QStringLiteral("lumetta_pop.cfg")); }
    QString settings() const { return path(QStringLiteral("general.cfg")); }
    QString debug_switch() const { return path(QStringLiteral("debuga.txt")); }
    QString seen_state(const QString& server) const {
        return path(account_file_stem(server) + QStringLiteral(".svr"));
    }
};

// Why a server text cannot name a seen-state file in the program folder (its
// file stem holds "/", "\" or a control character, or is "." or ".."), or
// empty when it can.
[[nodiscard]] QString unsafe_server_name_reason(const QString& server);

// True when `path` names an ordinary, visible file (folders and hidden files do not count).
bool ordinary_file_exists(const QString& path);

}  // namespace ostrel
