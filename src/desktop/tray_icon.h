#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

class QSystemTrayIcon;

namespace ostrel {

// The three pictures the main window holds for the tray.
enum class TrayImage { Normal, Alternate, Error };

QIcon tray_image_icon(TrayImage image);

// The program's one icon in the notification area. Tests observe which image
// and tip it shows without needing a tray host.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // Shows `image` with the tip "Ostrel", putting the icon up if it is not.
    void refresh(TrayImage image);
    // Takes the icon down; harmless when it is already gone.
    void remove();

    TrayImage shown_image() const { return shown_image_; }
    QString tip() const;
    bool is_up() const { return up_; }
    int refresh_count() const { return refresh_count_; }
    QSystemTrayIcon* system_icon() const { return system_icon_; }

signals:
    // Every refresh, with the image it shows.
    void shown(TrayImage image);

private:
    QSystemTrayIcon* system_icon_;
    TrayImage shown_image_ = TrayImage::Normal;
    bool up_ = false;
    int refresh_count_ = 0;
};

}  // namespace ostrel
