#include "desktop/system_watch.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace ostrel {

namespace {

const QString kLogin = QStringLiteral("org.freedesktop.login1");
const QString kLoginPath = QStringLiteral("/org/freedesktop/login1");
const QString kLoginManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kNetworkManager = QStringLiteral("org.freedesktop.NetworkManager");
const QString kNetworkManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kPrimaryConnection = QStringLiteral("PrimaryConnection");
const QString kNoConnection = QStringLiteral("/");

}  // namespace

SystemWatch::SystemWatch(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        return;
    }
    bus.connect(kLogin, kLoginPath, kLoginManager, QStringLiteral("PrepareForSleep"), this,
                SLOT(on_prepare_for_sleep(bool)));
    // On Linux the default backend is NetworkManager's, and only that one
    // reports what NetworkManager says; it loads only when NetworkManager runs.
    network_known_ =
        QNetworkInformation::instance() != nullptr || QNetworkInformation::loadDefaultBackend();
    if (network_known_) {
        watch_network();
    }
}

QNetworkInformation::Reachability SystemWatch::reachability() const {
    const QNetworkInformation* information = QNetworkInformation::instance();
    return information != nullptr ? information->reachability()
                                  : QNetworkInformation::Reachability::Unknown;
}

void SystemWatch::watch_network() {
    connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability reachability) {
                emit reachability_changed(reachability);
                if (reachability == QNetworkInformation::Reachability::Online) {
                    emit network_changed();
                }
            });
    // QNetworkInformation does not tell when the route moves; NetworkManager's
    // primary connection does.
    QDBusConnection bus = QDBusConnection::systemBus();
    bus.connect(kNetworkManager, kNetworkManagerPath, kProperties,
                QStringLiteral("PropertiesChanged"), this,
                SLOT(on_network_manager_properties(QString, QVariantMap, QStringList)));
    QDBusMessage get = QDBusMessage::createMethodCall(kNetworkManager, kNetworkManagerPath,
                                                      kProperties, QStringLiteral("Get"));
    get << kNetworkManager << kPrimaryConnection;
    auto* call = new QDBusPendingCallWatcher(bus.asyncCall(get), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, &SystemWatch::take_primary_connection);
}

void SystemWatch::take_primary_connection(QDBusPendingCallWatcher* call) {
    const QDBusPendingReply<QDBusVariant> reply = *call;
    // A change that came first is newer.
    if (!reply.isError() && primary_connection_.isEmpty()) {
        primary_connection_ = qvariant_cast<QDBusObjectPath>(reply.value().variant()).path();
    }
    call->deleteLater();
}

void SystemWatch::on_prepare_for_sleep(bool sleeping) {
    emit preparing_for_sleep(sleeping);
}

void SystemWatch::on_network_manager_properties(const QString& interface,
                                                const QVariantMap& changed,
                                                const QStringList& /*invalidated*/) {
    const auto primary = changed.constFind(kPrimaryConnection);
    if (interface == kNetworkManager && primary != changed.constEnd()) {
        set_primary_connection(qvariant_cast<QDBusObjectPath>(*primary).path());
    }
}

// Going from no connection to one, or to none, is the network coming or
// going, which the reachability tells; only one connection taking over from
// another is a moved route.
void SystemWatch::set_primary_connection(const QString& path) {
    const QString before = primary_connection_;
    primary_connection_ = path;
    if (before.isEmpty() || before == kNoConnection || path == kNoConnection || path == before) {
        return;
    }
    emit route_changed();
    emit network_changed();
}

}  // namespace ostrel
