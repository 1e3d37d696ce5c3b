#include "desktop/tray_host.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QTimer>

#include "desktop/xembed_tray.h"

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
    : QObject(parent),
      look_(std::move(look)),
      timing_(timing),
      settle_(new QTimer(this)),
      missing_after_(new QTimer(this)) {
    settle_->setSingleShot(true);
    connect(settle_, &QTimer::timeout, this, [this] {
        settled_ = true;
        look_again();
    });
    missing_after_->setSingleShot(true);
    missing_after_->setTimerType(Qt::PreciseTimer);
    connect(missing_after_, &QTimer::timeout, this, &TrayHostWatch::missing_time_passed);
}

void TrayHostWatch::start() {
    if (started_) {
        return;
    }
    started_ = true;
    // Listening first: a host that comes while the first look runs is not missed.
    listen_to_the_desktop();
    look_again();
    if (!done_) {
        missing_after_->start(timing_.missing_after_ms);
    }
}

void TrayHostWatch::listen_to_the_desktop() {
    listeners_ = new QObject(this);
    auto* xembed = new XEmbedTrayWatch(listeners_);
    // Queued: the look asks the display, which it must not do from inside
    // Qt's handling of a display event.
    connect(xembed, &XEmbedTrayWatch::tray_announced, this, &TrayHostWatch::look_again,
            Qt::QueuedConnection);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    // The watcher's name changing owner (NameOwnerChanged) and a host
    // registering with it.
    auto* watcher = new QDBusServiceWatcher(kWatcherService, bus,
                                            QDBusServiceWatcher::WatchForRegistration, listeners_);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, &TrayHostWatch::look_again);
    bus.connect(kWatcherService, kWatcherPath, kWatcherInterface,
                QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(look_again()));
}

void TrayHostWatch::stop_listening() {
    // Later: the look may be running on behalf of one of them.
    listeners_->deleteLater();
    listeners_ = nullptr;
    QDBusConnection::sessionBus().disconnect(kWatcherService, kWatcherPath, kWatcherInterface,
                                             QStringLiteral("StatusNotifierHostRegistered"), this,
                                             SLOT(look_again()));
    settle_->stop();
    missing_after_->stop();
}

void TrayHostWatch::look_again() {
    if (done_ || !started_) {
        return;
    }
    const TrayHost host = look_();
    if (host != TrayHost::XEmbed) {
        settle_->stop();
        settled_ = false;
    } else if (!settled_) {
        if (!settle_->isActive()) {
            settle_->start(timing_.settle_ms);
        }
        return;
    }
    if (host == TrayHost::None) {
        if (missing_due_ && !missing_told_) {
            missing_told_ = true;
            emit missing();
        }
        return;
    }
    done_ = true;
    stop_listening();
    emit ready(host);
}

void TrayHostWatch::missing_time_passed() {
    missing_due_ = true;
    look_again();
}

}  // namespace ostrel
