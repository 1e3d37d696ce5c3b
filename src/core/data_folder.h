#pragma once

#include <QProcessEnvironment>
#include <QString>

namespace ostrel {

// A portable copy (build tree, unpacked archive) keeps its data files beside
// its executable; an installed copy keeps them in the user's data folder,
// because the folder of an installed executable is a system folder.
enum class Flavour { Portable, Installed };

struct DataFolder {
    QString path;
    QString error;  // why there is no usable folder; empty when there is one
};

// Where the data files live: the program folder for a portable copy;
// $XDG_DATA_HOME/ostrel for an installed one ($HOME/.local/share/ostrel when
// XDG_DATA_HOME is unset or not absolute). There is no other fallback.
[[nodiscard]] DataFolder data_folder(Flavour flavour, const QString& program_folder,
                                     const QProcessEnvironment& environment);

// Creates an installed copy's data folder and any missing folder above it,
// owner-only (the accounts file holds passwords). Returns an error text,
// empty when the folder exists and is writable.
[[nodiscard]] QString make_data_folder(const QString& path);

}  // namespace ostrel
