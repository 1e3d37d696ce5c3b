#include "core/secret_store.h"

#include <qt6keychain/keychain.h>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <memory>

namespace ostrel {

namespace {

const QString kService = QStringLiteral(OSTREL_APP_ID);

// The bus names of the keyrings QtKeychain can talk to.
const QStringList kKeyringNames = {QStringLiteral("org.freedesktop.secrets"),
                                   QStringLiteral("org.kde.kwalletd5"),
                                   QStringLiteral("org.kde.kwalletd6")};

// Whether a keyring runs on the session bus or would be started by it. Asked
// first because without a bus the keyring library reports only a generic
// error, which must not read as a refusal.
bool keyring_on_the_bus() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr) {
        return false;
    }
    const QDBusReply<QStringList> activatable =
        bus.interface()->call(QStringLiteral("ListActivatableNames"));
    for (const QString& name : kKeyringNames) {
        if (bus.interface()->isServiceRegistered(name).value() ||
            (activatable.isValid() && activatable.value().contains(name))) {
            return true;
        }
    }
    return false;
}

// A locked keyring whose unlock prompt was dismissed, or could not be shown,
// answers a read as if it held nothing; the default collection's Locked
// property tells the two apart.
bool default_collection_locked(int timeout_ms) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.secrets"),
        QStringLiteral("/org/freedesktop/secrets/aliases/default"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Locked");
    const QDBusReply<QVariant> locked =
        QDBusConnection::sessionBus().call(get, QDBus::Block, timeout_ms);
    return locked.isValid() && locked.value().toBool();
}

KeyringResult from_job(QKeychain::Error error, const QString& text) {
    switch (error) {
        case QKeychain::NoError:
            return {};
        case QKeychain::EntryNotFound:
            return {KeyringResult::NotFound, text, {}};
        case QKeychain::NoBackendAvailable:
            return {KeyringResult::NoService, text, {}};
        default:
            return {KeyringResult::Refused, text, {}};
    }
}

// Starts the job and waits for it, at most `timeout_ms`. A job that has not
// finished then is left to finish on its own (it deletes itself): the keyring
// library still holds it, so it must outlive this wait.
KeyringResult run(QKeychain::Job* job, int timeout_ms) {
    if (!keyring_on_the_bus()) {
        delete job;
        return {KeyringResult::NoService, {}, {}};
    }
    job->setAutoDelete(true);
    auto result = std::make_shared<KeyringResult>(KeyringResult{KeyringResult::TimedOut, {}, {}});
    QEventLoop loop;
    QPointer<QEventLoop> waiting(&loop);
    QObject::connect(job, &QKeychain::Job::finished, job, [result, waiting](QKeychain::Job* done) {
        *result = from_job(done->error(), done->errorString());
        if (done->error() == QKeychain::NoError) {
            if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(done)) {
                result->password = read->textData();
            }
        }
        if (waiting) {
            waiting->quit();
        }
    });
    QTimer::singleShot(timeout_ms, &loop, &QEventLoop::quit);
    job->start();
    loop.exec();
    return *result;
}

}  // namespace

QString KeyringResult::reason() const {
    switch (status) {
        case Done:
            return QString();
        case NoService:
            return QStringLiteral("no Secret Service (keyring) runs on this desktop");
        case Refused:
            return QStringLiteral("the keyring is locked or refused access: ") + error;
        case NotFound:
            return QStringLiteral("the keyring holds no password for it");
        case TimedOut:
            return QStringLiteral(
                "the keyring did not answer in time; it may be waiting to be unlocked");
    }
    return QString();
}

SecretStore::SecretStore(int timeout_ms) : timeout_ms_(timeout_ms) {}

KeyringResult SecretStore::write(const QString& key, const QString& password) {
    auto* job = new QKeychain::WritePasswordJob(kService);
    job->setKey(key);
    job->setTextData(password);
    return run(job, timeout_ms_);
}

KeyringResult SecretStore::read(const QString& key) {
    auto* job = new QKeychain::ReadPasswordJob(kService);
    job->setKey(key);
    KeyringResult result = run(job, timeout_ms_);
    if (result.status == KeyringResult::NotFound && default_collection_locked(timeout_ms_)) {
        result = {KeyringResult::Refused, QStringLiteral("its default collection is locked"), {}};
    }
    return result;
}

KeyringResult SecretStore::remove(const QString& key) {
    auto* job = new QKeychain::DeletePasswordJob(kService);
    job->setKey(key);
    KeyringResult result = run(job, timeout_ms_);
    if (result.status == KeyringResult::NotFound) {
        result = {};
    }
    return result;
}

}  // namespace ostrel
