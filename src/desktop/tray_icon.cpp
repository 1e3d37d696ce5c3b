#include "desktop/tray_icon.h"

#include <QSystemTrayIcon>

namespace ostrel {

QIcon tray_image_icon(TrayImage image) {
    switch (image) {
        case TrayImage::Alternate:
            return QIcon(QStringLiteral(":/tray_alternate.png"));
        case TrayImage::Error:
            return QIcon(QStringLiteral(":/tray_error.png"));
        case TrayImage::Normal:
            break;
    }
    return QIcon(QStringLiteral(":/tray_normal.png"));
}

TrayIcon::TrayIcon(QObject* parent) : QObject(parent), system_icon_(new QSystemTrayIcon(this)) {
    system_icon_->setToolTip(QStringLiteral("Ostrel"));
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::refresh(TrayImage image) {
    shown_image_ = image;
    ++refresh_count_;
    // The icon is changed in place; it is never taken down and put up again.
    system_icon_->setIcon(tray_image_icon(image));
    system_icon_->setToolTip(QStringLiteral("Ostrel"));
    if (!up_) {
        system_icon_->show();
        up_ = true;
    }
    emit shown(image);
}

void TrayIcon::remove() {
    system_icon_->hide();
    up_ = false;
}

QString TrayIcon::tip() const {
    return system_icon_->toolTip();
}

}  // namespace ostrel
