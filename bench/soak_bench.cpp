// Soak: 1,000 consecutive checks of a 200-message mailbox on the private
// Dovecot (user36) by one check driver and its POP3 reader, then 1,000
// popups opened and closed.
// Resident memory and open descriptors are taken after a warm-up and at the
// end; memory may grow by less than 2 MiB, descriptors not at all, and every
// check must run to its header trace. Exits 1 when a target is missed.
// Needs the test server: scripts/dovecot-test-server start DIR; . DIR/env
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTextEdit>
#include <cstdio>

#include "notify/nota_form.h"
#include "support/check_fixture.h"
#include "support/dovecot_fixture.h"

using namespace ostrel;
using testing::CheckFixture;
using testing::DovecotFixture;

namespace {

constexpr int kMessages = 200;
constexpr int kWarmUp = 50;
constexpr int kRounds = 1000;
constexpr long kRssLimitKib = 2048;
const char* const kUser = "user36";

long resident_kib() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    return -1;
}

int open_descriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot).size());
}

struct Sample {
    long rss_kib;
    int fds;
};

Sample sample() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return {resident_kib(), open_descriptors()};
}

struct SoakFigures {
    int runs = 0;
    int skipped = 0;
    Sample warm{};
    Sample end{};
    double wall_s = 0;
    long rss_growth() const { return end.rss_kib - warm.rss_kib; }
    int fd_growth() const { return end.fds - warm.fds; }
    bool pass() const { return skipped == 0 && rss_growth() < kRssLimitKib && fd_growth() <= 0; }
};

void print(const char* title, const char* run_label, const char* skip_label,
           const SoakFigures& figures) {
    std::printf("%s\n", title);
    std::printf("  %-22s %d\n", run_label, figures.runs);
    std::printf("  %-22s %d\n", skip_label, figures.skipped);
    std::printf("  %-22s %ld KiB -> %ld KiB, growth %ld KiB (limit < %ld)\n", "RSS after warm-up",
                figures.warm.rss_kib, figures.end.rss_kib, figures.rss_growth(), kRssLimitKib);
    std::printf("  %-22s %d -> %d, growth %d\n", "open descriptors", figures.warm.fds,
                figures.end.fds, figures.fd_growth());
    std::printf("  %-22s %.1f s\n", "wall time", figures.wall_s);
    std::printf("  %s\n", figures.pass() ? "PASS" : "FAIL");
}

// One header trace line per message: " k - from - subject".
int trace_entries(const CheckFixture& check) {
    return int(check.trace().count(QStringLiteral("@example.org - soak ")));
}

SoakFigures soak_checks() {
    // The reply time-out is short so a stuck check would show quickly.
    CheckFixture check(2000);
    // Search words that no message holds: no popup is opened by any check.
    check.write_accounts(DovecotFixture::address().toUtf8() + "<>" + kUser + "<>" +
                         DovecotFixture::password().toUtf8() + "<>zzqxnevermatches\r\n");
    int finished = 0;
    QObject::connect(&check.driver, &CheckDriver::check_finished, [&] { ++finished; });
    SoakFigures figures;
    QElapsedTimer clock;
    clock.start();
    for (int round = 1; round <= kRounds; ++round) {
        const int finished_before = finished;
        check.run();
        ++figures.runs;
        const int entries = trace_entries(check);
        if (finished != finished_before + 1 || entries != kMessages) {
            ++figures.skipped;
            if (figures.skipped <= 5) {
                std::fprintf(stderr, "check %d: finished %d time(s), %d trace entries\n", round,
                             finished - finished_before, entries);
            }
        }
        if (round == kWarmUp) {
            figures.warm = sample();
        }
    }
    figures.end = sample();
    figures.wall_s = clock.nsecsElapsed() / 1e9;
    if (check.notes.nota_count() != 0) {
        std::fprintf(stderr, "%d popups were opened by the checks\n", check.notes.nota_count());
    }
    return figures;
}

SoakFigures soak_popups() {
    CheckFixture check;
    SoakFigures figures;
    QElapsedTimer clock;
    clock.start();
    for (int round = 1; round <= kRounds; ++round) {
        NotaForm* nota = check.notes.new_nota(QStringLiteral("nota"));
        ++figures.runs;
        if (nota == nullptr) {
            ++figures.skipped;
            continue;
        }
        QCoreApplication::processEvents();
        nota->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (round == kWarmUp) {
            figures.warm = sample();
        }
    }
    figures.end = sample();
    figures.wall_s = clock.nsecsElapsed() / 1e9;
    if (check.notes.open_count() != 0) {
        std::fprintf(stderr, "%d popups are still open\n", check.notes.open_count());
        ++figures.skipped;
    }
    return figures;
}

// The offscreen platform warns at every popup that it cannot shape or raise
// windows; 2,000 such lines would bury the figures.
void quiet_offscreen_warnings(QtMsgType type, const QMessageLogContext& context,
                              const QString& message) {
    if (message.startsWith(QStringLiteral("This plugin does not support"))) {
        return;
    }
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    qInstallMessageHandler(quiet_offscreen_warnings);
    QApplication app(argc, argv);
    if (!DovecotFixture::available()) {
        std::fprintf(stderr, "%s\n", DovecotFixture::kSkipReason);
        return 1;
    }
    const QString error = DovecotFixture::fill(
        kUser, DovecotFixture::numbered_messages(kMessages, "sender", "soak message "));
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const SoakFigures checks = soak_checks();
    print("checks, 200 messages each", "checks run", "checks skipped", checks);
    const SoakFigures popups = soak_popups();
    print("popups opened and closed", "popups opened", "popups failed", popups);
    return checks.pass() && popups.pass() ? 0 : 1;
}
