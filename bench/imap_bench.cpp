// IMAP on the private Dovecot behind a relay that adds 20 ms each way:
// how long after a message's delivery (doveadm save) its popup shows while
// the program idles on INBOX, and a first and a second reading of 300
// messages (header blocks of 2 to 6 KiB) against POP3's checks of the same
// mailbox through the same relay. Users: user08 (readings), user09 (idle).
// Needs the test server: scripts/dovecot-test-server start DIR; . DIR/env
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <cstdio>

#include "app/idle_accounts.h"
#include "notify/nota_form.h"
#include "realistic_mail.h"
#include "relay_thread.h"
#include "support/check_fixture.h"
#include "support/startup_fixture.h"

using namespace ostrel;
using testing::DovecotFixture;
using testing::RelayThread;

namespace {

constexpr int kOneWayMs = 20;
constexpr int kMessages = 300;
constexpr int kDeliveries = 10;

QByteArray account_line(const QString& server, const char* user) {
    return server.toUtf8() + "<>" + user + "<>" + DovecotFixture::password().toUtf8() + "<>\r\n";
}

// Sleeps in the event loop for `ms`, or until `done` holds.
template <typename Done>
bool wait_for(Done done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    return done();
}

struct Reading {
    double ms = 0;
    qint64 bytes = 0;
};

// A check of one account through `relay`, in a program folder kept from one
// check to the next.
Reading check(testing::CheckFixture& program, RelayThread& relay, const QString& server,
              const char* user) {
    program.write_accounts(account_line(server, user));
    const qint64 before = relay.traffic().bytes;
    QElapsedTimer clock;
    clock.start();
    program.run();
    return {double(clock.nsecsElapsed()) / 1e6, relay.traffic().bytes - before};
}

void bench_readings() {
    const QString error = DovecotFixture::fill("user08", testing::realistic_messages(kMessages));
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return;
    }
    RelayThread pop3(DovecotFixture::port(), kOneWayMs);
    RelayThread imap(DovecotFixture::imap_port(), kOneWayMs);
    const QString imap_server = "imap://" + imap.address();
    struct Row {
        const char* name;
        Reading first, second;
    } rows[] = {{"POP3 (CAPA, UIDL, pipelined TOP)", {}, {}},
                {"IMAP (EXAMINE, UID FETCH)", {}, {}}};
    // Warms Dovecot's caches for this mailbox, then the best of three.
    for (int run = 0; run < 4; ++run) {
        for (int protocol = 0; protocol < 2; ++protocol) {
            testing::CheckFixture program(kReplyTimeoutMs);
            RelayThread& relay = protocol == 0 ? pop3 : imap;
            const QString server = protocol == 0 ? relay.address() : imap_server;
            const Reading first = check(program, relay, server, "user08");
            const Reading second = check(program, relay, server, "user08");
            if (!program.trace().contains(QString(" %1 - ").arg(kMessages))) {
                std::fprintf(stderr, "a reading failed: %s\n", qPrintable(program.log_text()));
                return;
            }
            Row& row = rows[protocol];
            if (run == 1 || (run > 1 && first.ms < row.first.ms)) {
                row.first = first;
            }
            if (run == 1 || (run > 1 && second.ms < row.second.ms)) {
                row.second = second;
            }
        }
    }
    std::printf("readings of %d messages, %d ms each way (round trip %d ms), best of three\n",
                kMessages, kOneWayMs, 2 * kOneWayMs);
    for (const Row& row : rows) {
        std::printf("  %-34s first %7.1f ms %9lld bytes   second %6.1f ms %7lld bytes\n", row.name,
                    row.first.ms, static_cast<long long>(row.first.bytes), row.second.ms,
                    static_cast<long long>(row.second.bytes));
    }
}

// Notes the moment a popup shows.
class PopupClock : public QObject {
public:
    qint64 shown = -1;
    QElapsedTimer clock;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Show && qobject_cast<NotaForm*>(object) != nullptr &&
            shown < 0) {
            shown = clock.nsecsElapsed();
        }
        return false;
    }
};

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

void bench_idle() {
    if (!DovecotFixture::fill("user09", {DovecotFixture::message("a@example.org", "first")})
             .isEmpty()) {
        return;
    }
    RelayThread relay(DovecotFixture::imap_port(), kOneWayMs);
    Timings timings;
    timings.check_tick_ms = 3600000;
    testing::StartupFixture start(timings);
    start.folder.write("lumetta_pop.cfg", account_line("imap://" + relay.address(), "user09"));
    start.load();
    auto* idle = start.window().findChild<IdleAccounts*>();
    if (!wait_for([idle] { return !idle->watchers().empty() && idle->watchers()[0]->idling(); },
                  10000)) {
        std::fprintf(stderr, "the idle connection did not open: %s\n",
                     qPrintable(start.log_text()));
        return;
    }
    PopupClock popups;
    qApp->installEventFilter(&popups);
    qint64 heard = -1;
    QObject::connect(idle->watchers()[0].get(), &imap::IdleWatcher::new_mail,
                     [&] { heard = popups.clock.nsecsElapsed(); });
    QList<double> from_start, from_end, told, popup_after_told;
    for (int n = 1; n <= kDeliveries; ++n) {
        for (NotaForm* nota : start.window().findChildren<NotaForm*>()) {
            nota->close();
        }
        QProcess doveadm;
        qint64 saved = -1;
        QObject::connect(&doveadm, &QProcess::finished,
                         [&] { saved = popups.clock.nsecsElapsed(); });
        popups.shown = heard = -1;
        popups.clock.start();
        doveadm.start(
            "doveadm",
            {"-c", QFileInfo(qEnvironmentVariable("OSTREL_DOVECOT_HOME")).path() + "/dovecot.conf",
             "save", "-u", "user09", "-m", "INBOX"});
        doveadm.write(
            DovecotFixture::message("b@example.org", "idle news " + QByteArray::number(n)));
        doveadm.closeWriteChannel();
        if (!wait_for([&] { return popups.shown >= 0 && saved >= 0; }, 10000)) {
            std::fprintf(stderr, "no popup for delivery %d: %s\n", n, qPrintable(start.log_text()));
            return;
        }
        from_start << popups.shown / 1e6;
        from_end << (popups.shown - saved) / 1e6;
        told << (heard - saved) / 1e6;
        popup_after_told << (popups.shown - heard) / 1e6;
        wait_for([] { return false; }, 300);
    }
    std::printf("idle: delivery (doveadm save) to popup, %d ms each way, %d messages\n", kOneWayMs,
                kDeliveries);
    const auto row = [](const char* name, const QList<double>& values) {
        std::printf("  %-44s median %6.1f ms, max %6.1f ms\n", name, median(values),
                    *std::max_element(values.cbegin(), values.cend()));
    };
    row("from doveadm's start to the popup", from_start);
    row("from doveadm's end to the popup", from_end);
    row("  of which: the server tells the idle client", told);
    row("  of which: the account's check and popup", popup_after_told);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (!DovecotFixture::available() || DovecotFixture::imap_port() == 0) {
        std::fprintf(stderr, "%s\n", DovecotFixture::kSkipReason);
        return 1;
    }
    bench_idle();
    bench_readings();
    return 0;
}
