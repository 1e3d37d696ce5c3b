#pragma once

#include <QString>
#include <functional>

#include "desktop/tray_icon.h"

class QTextEdit;
class QTimer;

namespace ostrel {

// What a check drives on the main window, which owns them all.
struct CheckControls {
    QTimer* Timer1;    // the schedule's tick: stopped while a check runs
    QTimer* Timer2;    // the busy blink: runs while a check runs
    QTextEdit* Text1;  // the hidden header trace
    std::function<void(const QString&)> set_caption;
    std::function<void(TrayImage)> show_image;  // sets and shows the tray image
};

}  // namespace ostrel
