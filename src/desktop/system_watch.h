#pragma once

#include <QNetworkInformation>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class QDBusPendingCallWatcher;

namespace ostrel {

// What the system says about sleep and the network, as plain signals: logind's
// PrepareForSleep, NetworkManager's reachability (through QNetworkInformation)
// and its primary connection, all from the system bus. Nothing is polled: each
// signal follows a message the bus pushes. Without a system bus, logind or
// NetworkManager, the signals they would give never come.
class SystemWatch : public QObject {
    Q_OBJECT
public:
    explicit SystemWatch(QObject* parent = nullptr);

    // NetworkManager was there when the watch started.
    bool network_known() const { return network_known_; }
    QNetworkInformation::Reachability reachability() const;

signals:
    // True: the machine is about to sleep. False: it woke.
    void preparing_for_sleep(bool sleeping);
    void reachability_changed(QNetworkInformation::Reachability reachability);
    // Another connection became the primary one: a new Wi-Fi, a VPN up or down.
    void route_changed();
    // Connections made before may be dead, a new one would work: the internet
    // came back or the route moved. For whatever keeps connections open.
    void network_changed();

private slots:
    void on_prepare_for_sleep(bool sleeping);
    void on_network_manager_properties(const QString& interface, const QVariantMap& changed,
                                       const QStringList& invalidated);

private:
    void watch_network();
    void take_primary_connection(QDBusPendingCallWatcher* call);
    void set_primary_connection(const QString& path);

    bool network_known_ = false;
    QString
        primary_connection_;  // the primary connection's path, "/" for none, empty while unknown
};

}  // namespace ostrel
