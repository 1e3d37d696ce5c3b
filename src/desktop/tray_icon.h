#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

class QMenu;

namespace ostrel {

class TrayHostWatch;
enum class TrayHost;

// The three pictures the main window holds for the tray.
enum class TrayImage { Normal, Alternate, Error };

QIcon tray_image_icon(TrayImage image);

// The program's one icon in the notification area. Tests observe which image
// and tip it shows without needing a tray host.
//
// The desktop's icon is made only once a tray host is there (see
// TrayHostWatch), with the image, tip and menu of that moment; until then
// the icon keeps its state and shows nothing.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // Shows `image` with the tip "Ostrel", putting the icon up if it is not.
    void refresh(TrayImage image);
    // Takes the icon down; harmless when it is already gone.
    void remove();
    // The menu the desktop shows for a right press, and which panels that
    // draw their own menus read over the session bus.
    void set_menu(QMenu* menu);

    TrayImage shown_image() const { return shown_image_; }
    QString tip() const;
    bool is_up() const { return up_; }
    int refresh_count() const { return refresh_count_; }
    // The desktop's icon; null while no tray host has been found.
    QSystemTrayIcon* system_icon() const { return system_icon_; }

signals:
    // Every refresh, with the image it shows.
    void shown(TrayImage image);
    // A click or press on the desktop's icon.
    void activated(QSystemTrayIcon::ActivationReason reason);
    // Once, when the icon was to go up and the desktop had no tray host.
    void host_missing();
    // Once, when a tray host is there and the desktop's icon has been made.
    void host_found();

private:
    void make_system_icon(TrayHost host);

    TrayHostWatch* host_watch_;
    QSystemTrayIcon* system_icon_ = nullptr;
    QPointer<QMenu> menu_;
    TrayImage shown_image_ = TrayImage::Normal;
    bool up_ = false;
    int refresh_count_ = 0;
};

}  // namespace ostrel
