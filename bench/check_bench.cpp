// One check of a 300-message mailbox on the private Dovecot (user07), straight
// and behind a relay that adds a one-way delay, against Python's poplib doing
// the same commands; then the CPU a check costs while a server stays silent.
// Needs the test server: scripts/dovecot-test-server start DIR; . DIR/env
#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSslCertificate>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>
#include <cstdio>

#include "app/form1.h"
#include "pop3/check_driver.h"
#include "pop3/pop3_session.h"
#include "support/dovecot_fixture.h"
#include "support/startup_fixture.h"
#include "support/tcp_proxy.h"

using namespace ostrel;
using testing::DovecotFixture;
using testing::StartupFixture;
using testing::TcpProxy;

namespace {

constexpr int kMessages = 300;
const char* const kUser = "user07";

double thread_cpu_ms() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double process_cpu_ms() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

long peak_memory_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The relay runs on its own thread, so its work does not count as the check's.
class RelayThread {
public:
    explicit RelayThread(int one_way_delay_ms) {
        context_.moveToThread(&thread_);
        thread_.start();
        QMetaObject::invokeMethod(
            &context_,
            [this, one_way_delay_ms] {
                proxy_ = new TcpProxy("127.0.0.1", DovecotFixture::port(), one_way_delay_ms);
            },
            Qt::BlockingQueuedConnection);
    }
    ~RelayThread() {
        QMetaObject::invokeMethod(
            &context_, [this] { delete proxy_; }, Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
    }
    QString address() const { return proxy_->address(); }
    quint16 port() const { return proxy_->port(); }

private:
    QThread thread_;
    QObject context_;
    TcpProxy* proxy_ = nullptr;
};

struct CheckFigures {
    double wall_ms;
    double cpu_ms;
};

CheckFigures run_check(const QString& server, const TlsSettings& tls = TlsSettings()) {
    StartupFixture start;
    start.load();
    start.form->driver().session().set_tls_settings(tls);
    start.folder.write("lumetta_pop.cfg", server.toUtf8() + "<>" + kUser + "<>" +
                                              DovecotFixture::password().toUtf8() + "<>\r\n");
    QElapsedTimer clock;
    clock.start();
    const double cpu_before = thread_cpu_ms();
    start.form->executa2();
    return {double(clock.nsecsElapsed()) / 1e6, thread_cpu_ms() - cpu_before};
}

const char* const kPoplib = R"(
import poplib, sys, time
port, user, password = int(sys.argv[1]), sys.argv[2], sys.argv[3]
start = time.perf_counter()
pop = poplib.POP3("127.0.0.1", port, timeout=15)
pop.user(user)
pop.pass_(password)
count = pop.stat()[0]
for k in range(1, count + 1):
    pop.top(k, 0)
pop.sock.close()
print((time.perf_counter() - start) * 1000.0, count)
)";

// Wall time in ms of the same dialogue done by poplib, or -1.
double run_poplib(quint16 port) {
    QProcess python;
    python.start("python3",
                 {"-c", kPoplib, QString::number(port), kUser, DovecotFixture::password()});
    if (!python.waitForFinished(120000) || python.exitCode() != 0) {
        std::fprintf(stderr, "poplib failed: %s\n", python.readAllStandardError().constData());
        return -1;
    }
    return python.readAllStandardOutput().split(' ').value(0).toDouble();
}

void bench_latency(int one_way_ms) {
    RelayThread relay(one_way_ms);
    run_check(relay.address());  // warms Dovecot's caches for this mailbox
    // Without added latency a single run is noise-sized: take the best of three.
    const int runs = one_way_ms == 0 ? 3 : 1;
    CheckFigures ours{1e300, 0};
    double poplib = 1e300;
    for (int run = 0; run < runs; ++run) {
        const CheckFigures figures = run_check(relay.address());
        if (figures.wall_ms < ours.wall_ms) {
            ours = figures;
        }
        poplib = std::min(poplib, run_poplib(relay.port()));
    }
    const double rtt = 2.0 * one_way_ms;
    const double floor = (kMessages + 4) * rtt;
    std::printf("one-way delay %d ms (RTT %.0f ms), %d messages\n", one_way_ms, rtt, kMessages);
    std::printf("  check wall time      %9.1f ms\n", ours.wall_ms);
    if (floor > 0) {
        std::printf("  round-trip floor     %9.1f ms  (N+4) x RTT, ratio %.3f\n", floor,
                    ours.wall_ms / floor);
    } else {
        std::printf("  round-trip floor     %9.1f ms  (no added latency, ratio n/a)\n", floor);
    }
    std::printf("  CPU time (UI thread) %9.1f ms  = %.4f ms per message\n", ours.cpu_ms,
                ours.cpu_ms / kMessages);
    if (poplib > 0) {
        std::printf("  poplib wall time     %9.1f ms  ours / poplib = %.3f\n", poplib,
                    ours.wall_ms / poplib);
    }
}

// The same check straight to Dovecot, plain and over TLS (the TLS listener
// that scripts/test sets up), best of three each: the ratio is the cost of
// encryption.
void bench_tls() {
    const quint16 tls_port =
        static_cast<quint16>(qEnvironmentVariableIntValue("OSTREL_DOVECOT_TLS_PORT"));
    if (tls_port == 0) {
        std::printf("TLS: skipped, OSTREL_DOVECOT_TLS_PORT is not set\n");
        return;
    }
    TlsSettings tls;
    tls.port = tls_port;
    tls.extra_authorities =
        QSslCertificate::fromPath(qEnvironmentVariable("OSTREL_TEST_CERTS") + "/ca.pem");
    const QString plain_server = DovecotFixture::address();
    const QString tls_server = QStringLiteral("127.0.0.1:%1").arg(tls_port);
    CheckFigures plain{1e300, 0};
    CheckFigures secure{1e300, 0};
    for (int run = 0; run < 3; ++run) {
        const CheckFigures p = run_check(plain_server);
        const CheckFigures t = run_check(tls_server, tls);
        plain = p.wall_ms < plain.wall_ms ? p : plain;
        secure = t.wall_ms < secure.wall_ms ? t : secure;
    }
    std::printf("plain and TLS, no added latency, %d messages\n", kMessages);
    std::printf("  plain wall time      %9.1f ms, CPU %.1f ms\n", plain.wall_ms, plain.cpu_ms);
    std::printf("  TLS wall time        %9.1f ms, CPU %.1f ms, TLS / plain = %.3f\n",
                secure.wall_ms, secure.cpu_ms, secure.wall_ms / plain.wall_ms);
}

// A server that accepts and never says a word: the check waits out its time-out.
void bench_silent_wait() {
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost);
    QList<QTcpSocket*> held;
    QObject::connect(&silent, &QTcpServer::newConnection,
                     [&] { held << silent.nextPendingConnection(); });
    const double process_before = process_cpu_ms();
    const CheckFigures wait = run_check(QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()));
    std::printf("silent server, one 15 s greeting wait\n");
    std::printf("  wall time            %9.1f ms\n", wait.wall_ms);
    std::printf("  CPU time (UI thread) %9.1f ms, whole process %.1f ms\n", wait.cpu_ms,
                process_cpu_ms() - process_before);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (!DovecotFixture::available()) {
        std::fprintf(stderr, "%s\n", DovecotFixture::kSkipReason);
        return 1;
    }
    const QString error = DovecotFixture::fill(
        kUser, DovecotFixture::numbered_messages(kMessages, "sender", "bench message "));
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    bench_latency(0);
    bench_latency(20);
    bench_tls();
    bench_silent_wait();
    std::printf("peak memory (max RSS)  %ld KiB\n", peak_memory_kib());
    return 0;
}
