#include "core/data_files.h"

#include <QFileInfo>

namespace ostrel {

bool ordinary_file_exists(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && info.isFile() && !info.isHidden();
}

}  // namespace ostrel
