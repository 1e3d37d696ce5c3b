#pragma once

#include <QString>

namespace ostrel {

// The installed program's command, found on PATH.
inline constexpr char kInstalledCommand[] = "ostrel";

// The desktop id of the installed program: the name of its menu entry, its
// AppStream data and its icon in the icon theme.
QString installed_app_id();

// The per-user entry that starts the program at log-on:
// $XDG_CONFIG_HOME/autostart/Ostrel.desktop (~/.config/autostart by default).
QString autostart_entry_path();

// The icon a portable copy's entry names: a picture beside its data files.
QString portable_icon_path(const QString& program_folder);

// The desktop entry's text. `program_path` is a portable copy's program file,
// or the installed command (a name without a folder): the entry then starts
// that command and names the installed icon. `program_folder` holds the data
// files and is the entry's working folder.
QString autostart_entry_text(const QString& program_path, const QString& program_folder);

// Writes (or rewrites) the entry for the running program, and for a portable
// copy the icon it names. Returns an error description, empty on success.
[[nodiscard]] QString create_shortcut(const QString& program_path, const QString& program_folder);

// Deletes the entry; a missing entry is not an error.
void remove_shortcut();

// "1" writes the entry, anything else removes it. Returns an error description.
[[nodiscard]] QString apply_startup_setting(const QString& start_with_windows,
                                            const QString& program_path,
                                            const QString& program_folder);

}  // namespace ostrel
