#include "desktop/help_page.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "core/whole_file.h"

namespace ostrel {

namespace {

const QString kBuiltIn = QStringLiteral(":/help.html");

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

QUrl configured_homepage() {
    return QUrl(QStringLiteral(OSTREL_HOMEPAGE));
}

QString site_caption() {
    const QString host = configured_homepage().host();
    return host.isEmpty() ? QLatin1String(kSiteHost) : host;
}

HelpPage help_page(const QString& program_folder, const QString& data_folder) {
    const QString installed =
        QDir::cleanPath(program_folder + QStringLiteral("/../share/ostrel/help.html"));
    if (QFileInfo(installed).isFile()) {
        return {QUrl::fromLocalFile(installed), {}};
    }
    const QString written = data_folder + QStringLiteral("/help.html");
    const QByteArray page = contents(kBuiltIn);
    if (contents(written) != page) {
        const QString error = replace_whole_file(written, page);
        if (!error.isEmpty()) {
            return {{}, QStringLiteral("The help page cannot be shown: ") + error};
        }
    }
    return {QUrl::fromLocalFile(QFileInfo(written).absoluteFilePath()), {}};
}

HelpPage site_page(const QString& program_folder, const QString& data_folder) {
    const QUrl homepage = configured_homepage();
    return homepage.isEmpty() ? help_page(program_folder, data_folder) : HelpPage{homepage, {}};
}

}  // namespace ostrel
