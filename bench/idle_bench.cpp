// Idle wake-ups: one main window with the product's timings on a fresh
// program folder sits between checks for SECONDS (default 180); every thread's
// voluntary context switches (each one a sleep that something ended), read
// from /proc/self as the soak reads memory, count its wake-ups. Preemptions
// by other programs are left out. Prints wake-ups per minute for the whole process and per thread.
// Run it as it is (no system bus, as on a machine without a desktop) and
// inside scripts/system-bus-mocks (logind and NetworkManager present). With
// "imap", the program idles on the private Dovecot's INBOX of user09 too
// (its IMAP port from the environment, see scripts/dovecot-test-server).
//   build/bench/idle_bench [SECONDS] [imap]
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QNetworkInformation>
#include <QTimer>
#include <cstdio>

#include "app/form1.h"
#include "app/idle_accounts.h"
#include "support/startup_fixture.h"

using namespace ostrel;
using testing::StartupFixture;

namespace {

// Past the start-up's own timers (the tray host's ten seconds).
constexpr int kSettleMs = 15000;

// Voluntary context switches of each thread, by thread id ("id name").
QMap<QString, long> switches() {
    QMap<QString, long> result;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& id : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks.filePath(id + QStringLiteral("/status")));
        if (!status.open(QIODevice::ReadOnly)) {
            continue;
        }
        QString name;
        long count = 0;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Name:")) {
                name = QString::fromUtf8(line.mid(5).trimmed());
            } else if (line.startsWith("voluntary_ctxt_switches:")) {
                count = line.mid(line.indexOf(':') + 1).trimmed().toLong();
            }
        }
        result.insert(id + QLatin1Char(' ') + name, count);
    }
    return result;
}

void run_for(int ms) {
    QTimer::singleShot(ms, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 180;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: idle_bench [SECONDS]\n");
        return 2;
    }
    StartupFixture start;
    const bool imap = argc > 2 && QByteArray(argv[2]) == "imap";
    if (imap) {
        start.folder.write("lumetta_pop.cfg",
                           "imap://127.0.0.1:" + qgetenv("OSTREL_DOVECOT_IMAP_PORT") +
                               "<>user09<>" + qgetenv("OSTREL_DOVECOT_PASSWORD") + "<>\r\n");
    }
    if (!start.load()) {
        std::fprintf(stderr, "the main window did not load\n");
        return 1;
    }
    run_for(kSettleMs);
    const QMap<QString, long> before = switches();
    // The measurement's own end is one more wake-up of the main thread.
    run_for(seconds * 1000);
    const QMap<QString, long> after = switches();

    long total = 0;
    const QNetworkInformation* network = QNetworkInformation::instance();
    std::printf("network information: %s\n",
                network != nullptr ? qPrintable(network->backendName()) : "none");
    std::printf("idle wake-ups over %d s (voluntary context switches per thread)\n", seconds);
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        const long woke = it.value() - before.value(it.key(), 0);
        total += woke;
        std::printf("  %-28s %6ld  (%.1f a minute)\n", qPrintable(it.key()), woke,
                    woke * 60.0 / seconds);
    }
    std::printf("  %-28s %6ld  (%.1f a minute)\n", "whole process", total, total * 60.0 / seconds);
    if (imap) {
        const auto* idle = start.window().findChild<IdleAccounts*>();
        const bool idling = !idle->watchers().empty() && idle->watchers()[0]->idling();
        std::printf("IMAP account idling all along: %s\n", idling ? "yes" : "NO");
    }
    return 0;
}
