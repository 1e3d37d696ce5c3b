#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace ostrel {

// The settings file's content when it is first created: every 10 minutes, start at log-on.
inline constexpr char kDefaultGeneralSettings[] = "10\r\n1\r\n";

// Splits settings text into its delimited fields: blanks around a field are
// dropped, a comma or a line end (CR LF, CR or LF) ends a field, a field in
// double quotes loses them, an empty line is an empty value.
QStringList read_delimited_fields(const QString& text);

// `check_interval` and `start_with_windows` as read from the file.
struct GeneralOptions {
    QString check_interval;
    QString start_with_windows;
};

struct SettingsRead {
    QStringList fields;  // every field found, in order
    QString error;       // empty on success
    bool ok() const { return error.isEmpty(); }
};

// Reads the settings file. Fewer than two fields is an error, but the fields
// that were found are still returned (the caller sets what it can).
[[nodiscard]] SettingsRead read_general_settings(const QString& path);

// Rewrites the file atomically as interval CR LF flag CR LF. Returns an error
// description, empty on success; on failure the old file is left whole.
[[nodiscard]] QString write_general_settings(const QString& path, const GeneralOptions& options);

}  // namespace ostrel
