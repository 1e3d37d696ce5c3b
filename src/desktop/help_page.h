#pragma once

#include <QString>
#include <QUrl>

namespace ostrel {

// The help page and the project's web site, as the tray menu opens them.

// What the web site item shows when the build names no web page.
inline constexpr char kSiteHost[] = "www.ostrel.example.org";

// The project's web page the build was given (OSTREL_HOMEPAGE); empty when none.
QUrl configured_homepage();

// The web site item's caption: the host of the configured page, else kSiteHost.
QString site_caption();

struct HelpPage {
    QUrl url;       // a file:// address
    QString error;  // why there is none; empty when there is
};

// The help page: the one installed with the program, share/ostrel/help.html
// beside the folder that holds the executable, or else the copy built into
// the program, written as help.html into `data_folder` when it is missing
// there or differs.
[[nodiscard]] HelpPage help_page(const QString& program_folder, const QString& data_folder);

// The web site item's page: the configured web page, else the help page.
[[nodiscard]] HelpPage site_page(const QString& program_folder, const QString& data_folder);

}  // namespace ostrel
