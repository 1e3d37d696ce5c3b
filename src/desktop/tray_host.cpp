#include "desktop/tray_host.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QTimer>

#ifdef OSTREL_X11
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#endif

namespace ostrel {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kWatcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
constexpr int kBusReplyMs = 2000;

// The same question Qt asks before it makes a StatusNotifierItem.
bool status_notifier_host_registered() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr ||
        !bus.interface()->isServiceRegistered(kWatcherService)) {
        return false;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kWatcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(get, QDBus::Block, kBusReplyMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

#ifdef OSTREL_X11
struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, FreeReply>;

// An XEmbed tray owns the selection _NET_SYSTEM_TRAY_S<screen>.
bool xembed_tray_owned() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
    if (connection == nullptr) {
        return false;
    }
    int screen = 0;
    char* host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen) != 0) {
        std::free(host);
    }
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen);
    const ReplyPtr<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, uint16_t(name.size()), name.constData()),
        nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE) {
        return false;
    }
    const ReplyPtr<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, atom->atom), nullptr));
    return owner && owner->owner != XCB_WINDOW_NONE;
}
#else
bool xembed_tray_owned() {
    return false;
}
#endif

}  // namespace

TrayHost current_tray_host() {
    const QString platform = QGuiApplication::platformName();
    const bool x11 = platform == QLatin1String("xcb");
    if (!x11 && !platform.startsWith(QLatin1String("wayland"))) {
        return TrayHost::Platform;
    }
    if (status_notifier_host_registered()) {
        return TrayHost::StatusNotifier;
    }
    if (x11 && xembed_tray_owned()) {
        return TrayHost::XEmbed;
    }
    return TrayHost::None;
}

TrayHostWatch::TrayHostWatch(QObject* parent, Look look, TrayHostTiming timing)
    : QObject(parent), look_(std::move(look)), timing_(timing), recheck_(new QTimer(this)) {
    recheck_->setInterval(timing_.recheck_ms);
    connect(recheck_, &QTimer::timeout, this, &TrayHostWatch::look);
}

void TrayHostWatch::start() {
    if (started_) {
        return;
    }
    started_ = true;
    since_start_.start();
    look();
    if (!done_) {
        watch_session_bus();
        recheck_->start();
    }
}

// A panel's watcher and the host registering with it wake the watch at once;
// the timer catches an XEmbed tray, which announces itself only to clients
// listening on the root window.
void TrayHostWatch::watch_session_bus() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    auto* watcher = new QDBusServiceWatcher(kWatcherService, bus,
                                            QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, &TrayHostWatch::look);
    bus.connect(kWatcherService, kWatcherPath, kWatcherInterface,
                QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(look()));
}

void TrayHostWatch::look() {
    if (done_) {
        return;
    }
    const TrayHost host = look_();
    if (host != TrayHost::XEmbed) {
        xembed_alone_.invalidate();
    } else if (!xembed_alone_.isValid()) {
        xembed_alone_.start();
    }
    if (host == TrayHost::XEmbed && !xembed_alone_.hasExpired(timing_.settle_ms)) {
        return;
    }
    if (host == TrayHost::None) {
        if (!missing_told_ && since_start_.hasExpired(timing_.missing_after_ms)) {
            missing_told_ = true;
            emit missing();
        }
        return;
    }
    done_ = true;
    recheck_->stop();
    QDBusConnection::sessionBus().disconnect(kWatcherService, kWatcherPath, kWatcherInterface,
                                             QStringLiteral("StatusNotifierHostRegistered"), this,
                                             SLOT(look()));
    emit ready(host);
}

}  // namespace ostrel
