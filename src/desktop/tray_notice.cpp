#include "desktop/tray_notice.h"

#include <QMessageBox>

#include "core/event_log.h"

namespace ostrel {

QString tray_missing_log_text() {
    return QStringLiteral(
        "No system tray on this desktop: the icon and its menu wait for one; checks and popups "
        "go on");
}

QString tray_missing_message() {
    return QStringLiteral(
        "Ostrel is running, but this desktop has no notification area (system tray) for its "
        "icon, so its menu cannot be opened.\n\n"
        "Checks and mail popups go on as usual. To reach the menu, add a notification area "
        "(system tray) to your panel; on GNOME, install and enable the \"AppIndicator and "
        "KStatusNotifierItem Support\" extension (Debian package "
        "gnome-shell-extension-appindicator). The icon appears as soon as there is one.");
}

void tell_tray_missing(QWidget* parent, EventLog& log) {
    log.log_event(tray_missing_log_text());
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Ostrel"),
                                tray_missing_message(), QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("tray_missing"));
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

}  // namespace ostrel
