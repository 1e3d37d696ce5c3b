#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QMessageBox;
class QWidget;

namespace ostrel {

class EventLog;
class TrayIcon;

// The log line and the message for a desktop without any tray host: the
// program runs on, but its menu cannot be reached until a tray appears.
QString tray_missing_log_text();
QString tray_missing_message();

// Tells the user when the tray icon finds no tray host: one log line and a
// message that waits for no answer. The message closes by itself once a
// tray comes and the icon is on it, when what it says is no longer true.
class TrayNotice : public QObject {
    Q_OBJECT
public:
    TrayNotice(TrayIcon& tray, EventLog& log, QWidget* parent);

private:
    void tell();
    void withdraw();

    EventLog& log_;
    QWidget* parent_;
    QPointer<QMessageBox> notice_box_;
};

}  // namespace ostrel
