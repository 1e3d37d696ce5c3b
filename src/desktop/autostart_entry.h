#pragma once

#include <QString>

namespace ostrel {

// The per-user entry that starts the program at log-on:
// $XDG_CONFIG_HOME/autostart/Ostrel.desktop (~/.config/autostart by default).
QString autostart_entry_path();

// The desktop entry's text for a program file in a program folder.
QString autostart_entry_text(const QString& program_path, const QString& program_folder);

// Writes (or rewrites) the entry for the running program. Returns an error
// description, empty on success.
QString create_shortcut(const QString& program_path, const QString& program_folder);

// Deletes the entry; a missing entry is not an error.
void remove_shortcut();

// "1" writes the entry, anything else removes it. Returns an error description.
QString apply_startup_setting(const QString& start_with_windows, const QString& program_path,
                              const QString& program_folder);

}  // namespace ostrel
