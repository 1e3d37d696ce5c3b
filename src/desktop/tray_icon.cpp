#include "desktop/tray_icon.h"

#include <QMenu>

#include "desktop/tray_host.h"

namespace ostrel {

namespace {

const QString kTip = QStringLiteral("Ostrel");

}  // namespace

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

TrayIcon::TrayIcon(QObject* parent) : QObject(parent), host_watch_(new TrayHostWatch(this)) {
    connect(host_watch_, &TrayHostWatch::ready, this, &TrayIcon::make_system_icon);
    connect(host_watch_, &TrayHostWatch::missing, this, &TrayIcon::host_missing);
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::refresh(TrayImage image) {
    shown_image_ = image;
    ++refresh_count_;
    up_ = true;
    if (system_icon_ != nullptr) {
        // The icon is changed in place; it is never taken down and put up again.
        system_icon_->setIcon(tray_image_icon(image));
        system_icon_->setToolTip(kTip);
        system_icon_->show();
    } else {
        host_watch_->start();
    }
    emit shown(image);
}

void TrayIcon::remove() {
    if (system_icon_ != nullptr) {
        system_icon_->hide();
    }
    up_ = false;
}

void TrayIcon::set_menu(QMenu* menu) {
    menu_ = menu;
    if (system_icon_ != nullptr) {
        system_icon_->setContextMenu(menu);
    }
}

QString TrayIcon::tip() const {
    return system_icon_ != nullptr ? system_icon_->toolTip() : kTip;
}

void TrayIcon::make_system_icon(TrayHost) {
    system_icon_ = new QSystemTrayIcon(tray_image_icon(shown_image_), this);
    system_icon_->setToolTip(kTip);
    system_icon_->setContextMenu(menu_);
    connect(system_icon_, &QSystemTrayIcon::activated, this, &TrayIcon::activated);
    if (up_) {
        system_icon_->show();
    }
    emit host_found();
}

}  // namespace ostrel
