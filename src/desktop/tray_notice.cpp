#include "desktop/tray_notice.h"

#include <QMessageBox>

#include "core/event_log.h"
#include "desktop/tray_icon.h"

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
        "gnome-shell-extension-appindicator). As soon as there is one, the icon appears and "
        "this message closes.");
}

TrayNotice::TrayNotice(TrayIcon& tray, EventLog& log, QWidget* parent)
    : QObject(parent), log_(log), parent_(parent) {
    connect(&tray, &TrayIcon::host_missing, this, &TrayNotice::tell);
    connect(&tray, &TrayIcon::host_found, this, &TrayNotice::withdraw);
}

void TrayNotice::tell() {
    log_.log_event(tray_missing_log_text());
    notice_box_ = new QMessageBox(QMessageBox::Information, QStringLiteral("Ostrel"),
                                  tray_missing_message(), QMessageBox::Ok, parent_);
    notice_box_->setObjectName(QStringLiteral("tray_missing"));
    notice_box_->setTextFormat(Qt::PlainText);
    notice_box_->setAttribute(Qt::WA_DeleteOnClose);
    notice_box_->setWindowModality(Qt::NonModal);
    notice_box_->show();
}

void TrayNotice::withdraw() {
    if (!notice_box_.isNull()) {
        notice_box_->close();
    }
}

}  // namespace ostrel
