#pragma once

#include <QObject>

class QMenu;

namespace ostrel {

class Form1;

// The tray icon's menu; it opens on a left or right press of the icon.
class TrayMenu : public QObject {
    Q_OBJECT
public:
    explicit TrayMenu(Form1& form);
    ~TrayMenu() override;

    QMenu* menu() const { return menu_; }

private:
    Form1& form_;
    QMenu* menu_;
};

}  // namespace ostrel
