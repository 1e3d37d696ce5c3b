#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <cstdint>

namespace ostrel {

// True when an XEmbed system tray owns the X display's tray selection
// (_NET_SYSTEM_TRAY_S<screen>); false off X11.
bool xembed_tray_owned();

// Tells when a new XEmbed system tray takes the tray selection. A tray that
// comes up announces itself with a MANAGER client message on the root
// window, sent to clients that listen for the root's structure events; this
// listens for it, so nothing needs to ask the display again and again.
// Does nothing off X11.
class XEmbedTrayWatch : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit XEmbedTrayWatch(QObject* parent = nullptr);
    ~XEmbedTrayWatch() override;

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override;

signals:
    void tray_announced();

private:
    std::uint32_t root_ = 0;
    std::uint32_t manager_ = 0;
    std::uint32_t selection_ = 0;
    bool added_structure_events_ = false;
};

}  // namespace ostrel
