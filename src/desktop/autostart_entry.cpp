#include "desktop/autostart_entry.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace ostrel {

namespace {

// Exec= values are quoted when they hold anything but plain characters; inside
// the quotes ", `, $ and \ are escaped with a backslash, and the key's own
// string escaping doubles every backslash again.
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

}  // namespace

QString autostart_entry_path() {
    // QStandardPaths honours $XDG_CONFIG_HOME and falls back to ~/.config.
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return config + QStringLiteral("/autostart/Ostrel.desktop");
}

QString autostart_entry_text(const QString& program_path, const QString& program_folder) {
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Ostrel\n"
                          "Comment=Ostrel Shortcut\n"
                          "Exec=%1\n"
                          "Icon=%2\n"
                          "Path=%3\n"
                          "Terminal=false\n")
        .arg(quoted_exec(program_path), plain_value(program_folder + QStringLiteral("/ostrel.png")),
             plain_value(program_folder));
}

QString create_shortcut(const QString& program_path, const QString& program_folder) {
    const QString path = autostart_entry_path();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return QStringLiteral("cannot create the folder of %1").arg(path);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    }
    file.write(autostart_entry_text(program_path, program_folder).toUtf8());
    // A flush that fails (a full disk) must keep the old file: commit()
    // alone would still put the short new one in its place.
    if (!file.flush()) {
        file.cancelWriting();
    }
    if (!file.commit()) {
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    }
    return {};
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
