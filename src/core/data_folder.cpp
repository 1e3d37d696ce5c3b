#include "core/data_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <filesystem>
#include <system_error>
#include <vector>

namespace ostrel {

namespace fs = std::filesystem;

namespace {

// The data-home rules of the XDG base directories: a relative value is ignored.
QString data_home(const QProcessEnvironment& environment) {
    const QString xdg = environment.value(QStringLiteral("XDG_DATA_HOME"));
    if (QDir::isAbsolutePath(xdg)) {
        return QDir::cleanPath(xdg);
    }
    const QString home = environment.value(QStringLiteral("HOME"));
    if (QDir::isAbsolutePath(home)) {
        return QDir::cleanPath(home + QStringLiteral("/.local/share"));
    }
    return {};
}

QString cannot_create(const QString& path, const std::error_code& error) {
    return QStringLiteral("Ostrel cannot create its data folder %1: %2")
        .arg(path, QString::fromLocal8Bit(error.message().c_str()));
}

}  // namespace

DataFolder data_folder(Flavour flavour, const QString& program_folder,
                       const QProcessEnvironment& environment) {
    if (flavour == Flavour::Portable) {
        return {program_folder, {}};
    }
    const QString home = data_home(environment);
    if (home.isEmpty()) {
        return {{},
                QStringLiteral("Ostrel cannot find your data folder: neither XDG_DATA_HOME nor "
                               "HOME names an absolute folder.")};
    }
    return {home + QStringLiteral("/ostrel"), {}};
}

QString make_data_folder(const QString& path) {
    std::error_code error;
    std::vector<fs::path> missing;
    for (fs::path folder = QFile::encodeName(path).toStdString();
         !folder.empty() && !fs::exists(folder, error); folder = folder.parent_path()) {
        missing.push_back(folder);
    }
    for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
        if (!fs::create_directory(*folder, error) && error) {
            return cannot_create(path, error);
        }
        fs::permissions(*folder, fs::perms::owner_all, error);
    }
    const QFileInfo info(path);
    if (!info.isDir()) {
        return QStringLiteral(
                   "Ostrel cannot use its data folder %1: something else of that "
                   "name is in the way.")
            .arg(path);
    }
    if (!info.isWritable()) {
        return QStringLiteral("Ostrel cannot write in its data folder %1.").arg(path);
    }
    return {};
}

}  // namespace ostrel
