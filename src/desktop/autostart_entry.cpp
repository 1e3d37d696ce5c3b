#include "desktop/autostart_entry.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "core/whole_file.h"

namespace ostrel {

namespace {

// Exec= values are quoted when they hold anything but plain characters; inside
// the quotes ", `, $ and \ are escaped with a backslash, and the key's own
// string escaping doubles every backslash again. A literal "%" is written
// "%%", or it would read as a field code.
QString quoted_exec(const QString& program_path) {
    QString escaped;
    for (const QChar c : program_path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\')) {
            escaped += QLatin1Char('\\');
        }
        escaped += c;
    }
    escaped.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    escaped.replace(QLatin1String("%"), QLatin1String("%%"));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

// Other keys take the string escapes only.
QString plain_value(const QString& value) {
    QString escaped = value;
    escaped.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    escaped.replace(QLatin1String("\n"), QLatin1String("\\n"));
    escaped.replace(QLatin1String("\r"), QLatin1String("\\r"));
    return escaped;
}

bool is_installed_command(const QString& program_path) {
    return !program_path.contains(QLatin1Char('/'));
}

// A portable copy's icon is written beside its data files, and rewritten only
// when it differs, so a start with everything in place changes no file.
QString write_portable_icon(const QString& program_folder) {
    QFile picture(QStringLiteral(":/icons/ostrel-128.png"));
    if (!picture.open(QIODevice::ReadOnly)) {
        return QStringLiteral("the program's icon is missing from its resources");
    }
    const QByteArray content = picture.readAll();
    const QString path = portable_icon_path(program_folder);
    QFile current(path);
    if (current.open(QIODevice::ReadOnly) && current.readAll() == content) {
        return {};
    }
    return replace_whole_file(path, content);
}

}  // namespace

QString installed_app_id() {
    return QStringLiteral(OSTREL_APP_ID);
}

QString autostart_entry_path() {
    // QStandardPaths honours $XDG_CONFIG_HOME and falls back to ~/.config.
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return config + QStringLiteral("/autostart/Ostrel.desktop");
}

QString portable_icon_path(const QString& program_folder) {
    return program_folder + QStringLiteral("/ostrel.png");
}

QString autostart_entry_text(const QString& program_path, const QString& program_folder) {
    const bool installed = is_installed_command(program_path);
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Ostrel\n"
               "Comment=Ostrel Shortcut\n"
               "Exec=%1\n"
               "Icon=%2\n"
               "Path=%3\n"
               "Terminal=false\n")
        .arg(installed ? program_path : quoted_exec(program_path),
             installed ? installed_app_id() : plain_value(portable_icon_path(program_folder)),
             plain_value(program_folder));
}

QString create_shortcut(const QString& program_path, const QString& program_folder) {
    if (!is_installed_command(program_path)) {
        const QString error = write_portable_icon(program_folder);
        if (!error.isEmpty()) {
            return error;
        }
    }
    const QString path = autostart_entry_path();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return QStringLiteral("cannot create the folder of %1").arg(path);
    }
    return replace_whole_file(path, autostart_entry_text(program_path, program_folder).toUtf8());
}

void remove_shortcut() {
    QFile::remove(autostart_entry_path());
}

QString apply_startup_setting(const QString& start_with_windows, const QString& program_path,
                              const QString& program_folder) {
    if (start_with_windows == QLatin1String("1")) {
        return create_shortcut(program_path, program_folder);
    }
    remove_shortcut();
    return {};
}

}  // namespace ostrel
