// Suspend, resume and network changes told through the real D-Bus interfaces
// of logind and NetworkManager (python-dbusmock on a private system bus,
// scripts/system-bus-mocks), with checks of the private Dovecot. User: user29.
#include <QAction>
#include <QMenu>
#include <QNetworkInformation>
#include <QtDBus>
#include <QtTest>

#include "app/check_policy.h"
#include "support/dovecot_fixture.h"
#include "support/startup_fixture.h"

using namespace ostrel;
using testing::DovecotFixture;

namespace {

// NetworkManager's states (NMState).
enum : uint { kAsleep = 10, kDisconnected = 20, kConnecting = 40, kGlobal = 70 };

const QString kLogin = "org.freedesktop.login1";
const QString kNetworkManager = "org.freedesktop.NetworkManager";

// A method of a mock's own interface, on the service's main object.
void mock(const QString& service, const QString& method, const QVariantList& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, '/' + QString(service).replace('.', '/'), "org.freedesktop.DBus.Mock", method);
    call.setArguments(arguments);
    const QDBusMessage reply = QDBusConnection::systemBus().call(call);
    QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
}

void prepare_for_sleep(bool sleeping) {
    mock(kLogin, "EmitSignal",
         {kLogin + ".Manager", "PrepareForSleep", "b", QVariant(QVariantList{sleeping})});
}

void network_state(uint state) {
    mock(kNetworkManager, "SetGlobalConnectionState", {state});
}

// An active connection's object path, "/" for none.
void primary_connection(const QString& path) {
    mock(kNetworkManager, "SetProperty",
         {"/org/freedesktop/NetworkManager", kNetworkManager, "PrimaryConnection",
          QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusObjectPath(path))))});
}

// A main window with one account on the test server (and a refused one when
// asked), counting its checks.
struct Watched : testing::StartupFixture {
    explicit Watched(int tick_ms, bool refused_account = false)
        : StartupFixture({tick_ms, 50, 2000, PasswordStore::kTimeoutMs, {50, 300, 5000}, {}}) {
        folder.write("general.cfg", "1\r\n0\r\n");
        folder.write("lumetta_pop.cfg",
                     DovecotFixture::address().toUtf8() + "<>user29<>" +
                         DovecotFixture::password().toUtf8() + "<>\r\n" +
                         (refused_account ? "127.0.0.1:1<>ann<>secret<>\r\n" : ""));
        QObject::connect(&window(), &Form1::check_finished, [this] { ++checks; });
        load();
    }
    int checks = 0;
};

}  // namespace

class SystemBusDovecotTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!qEnvironmentVariableIsSet("OSTREL_SYSTEM_MOCKS")) {
            QSKIP("needs the logind and NetworkManager mocks: run inside scripts/system-bus-mocks");
        }
        if (!DovecotFixture::available()) {
            QSKIP(DovecotFixture::kSkipReason);
        }
    }
    // Every case starts online; the network information outlives each window.
    void init() {
        network_state(kGlobal);
        if (const QNetworkInformation* information = QNetworkInformation::instance()) {
            QTRY_COMPARE(information->reachability(), QNetworkInformation::Reachability::Online);
        }
    }

    void resume_checks_once_the_network_is_back() {
        QCOMPARE(DovecotFixture::fill("user29", {DovecotFixture::message("a@example.org", "new")}),
                 QString());
        Watched watched(3600000);
        prepare_for_sleep(true);
        network_state(kAsleep);
        prepare_for_sleep(false);
        network_state(kDisconnected);
        network_state(kConnecting);
        // Longer than the grace without network information: this waits.
        QTest::qWait(600);
        QCOMPARE(watched.checks, 0);
        network_state(kGlobal);
        QTRY_COMPARE_WITH_TIMEOUT(watched.checks, 1, 5000);
        QVERIFY(watched.folder.read(DovecotFixture::address() + ".svr").contains("new"));
        // A suspend is no network failure: nothing logged.
        QVERIFY(!watched.log_text().contains("network"));
    }

    void offline_skips_scheduled_checks_quietly() {
        Watched watched(100, true);
        const QString refused = QStringLiteral("Can\u00b4t connect to Pop3 127.0.0.1:1");
        QTRY_VERIFY_WITH_TIMEOUT(watched.log_text().contains(refused), 5000);
        network_state(kDisconnected);
        QTRY_VERIFY_WITH_TIMEOUT(watched.log_text().contains(kNetworkDown), 5000);
        QTest::qWait(200);  // a check that was running ends
        const int checks = watched.checks;
        const QString offline_log = watched.log_text();
        QTest::qWait(600);
        QCOMPARE(watched.checks, checks);
        QCOMPARE(watched.log_text(), offline_log);

        // Asked for, a check runs offline too, and its failures are logged.
        watched.tray_menu().menu()->findChild<QAction*>("ver_agora")->trigger();
        QCOMPARE(watched.checks, checks + 1);
        QCOMPARE(watched.log_text().count(refused), offline_log.count(refused) + 1);

        network_state(kGlobal);
        QTRY_VERIFY_WITH_TIMEOUT(watched.checks >= checks + 3, 5000);
        const QString log = watched.log_text();
        QCOMPARE(log.count(kNetworkDown), 1);
        QCOMPARE(log.count(kNetworkBack), 1);
        QVERIFY(log.lastIndexOf(refused) > log.indexOf(kNetworkBack));
    }

    // Losing the connection and getting one again is no moved route.
    void a_moved_route_checks_at_once() {
        Watched watched(3600000);
        for (const auto& [path, checks] :
             QList<QPair<QString, int>>{{"/wifi", 0}, {"/vpn", 1}, {"/", 1}, {"/wifi", 1}}) {
            primary_connection(path);
            QTest::qWait(300);
            QTRY_COMPARE_WITH_TIMEOUT(watched.checks, checks, 5000);
        }
    }
};

QTEST_MAIN(SystemBusDovecotTest)
#include "system_bus_dovecot_test.moc"
