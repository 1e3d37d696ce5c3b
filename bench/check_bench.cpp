// Checks of a 300-message mailbox on the private Dovecot (user07), whose
// header blocks are 2 to 6 KiB as real ones are, behind a relay that adds a
// one-way delay: one command at a time to a server without CAPA, the first
// check with pipelining, a second check of the unchanged mailbox from the
// header cache, and Python's poplib doing the one-at-a-time dialogue through
// the same relay; then plain against TLS, and the CPU a check costs while a
// server stays silent.
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

#include "support/check_fixture.h"
#include "support/dovecot_fixture.h"
#include "support/tcp_proxy.h"

using namespace ostrel;
using testing::CheckFixture;
using testing::DovecotFixture;
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
    RelayThread(int one_way_delay_ms, bool refuse_capa) {
        context_.moveToThread(&thread_);
        thread_.start();
        on_relay([this, one_way_delay_ms, refuse_capa] {
            proxy_ = new TcpProxy("127.0.0.1", DovecotFixture::port(), one_way_delay_ms);
            if (refuse_capa) {
                proxy_->refuse_capa();
            }
        });
    }
    ~RelayThread() {
        on_relay([this] { delete proxy_; });
        thread_.quit();
        thread_.wait();
    }
    QString address() const { return proxy_->address(); }
    quint16 port() const { return proxy_->port(); }

    // What went through the relay so far: bytes to the client, TOP commands.
    struct Traffic {
        qint64 bytes = 0;
        qsizetype tops = 0;
    };
    Traffic traffic() {
        Traffic now;
        on_relay([&] { now = {proxy_->bytes_to_clients(), proxy_->client_bytes().count("TOP ")}; });
        return now;
    }

private:
    template <typename Work>
    void on_relay(Work work) {
        QMetaObject::invokeMethod(&context_, work, Qt::BlockingQueuedConnection);
    }

    QThread thread_;
    QObject context_;
    TcpProxy* proxy_ = nullptr;
};

struct CheckFigures {
    double wall_ms = 1e300;
    double cpu_ms = 0;
    qint64 bytes = 0;
    qsizetype tops = 0;
};

CheckFigures best(const CheckFigures& a, const CheckFigures& b) {
    return a.wall_ms <= b.wall_ms ? a : b;
}

// A program folder kept from one check to the next, as the product keeps it:
// a second check finds the seen state and the header cache of the first.
class Program {
public:
    explicit Program(const TlsSettings& tls = {kPop3TlsPort, {}}) : check_(kReplyTimeoutMs, tls) {}
    CheckFigures check(const QString& server) {
        check_.write_accounts(server.toUtf8() + "<>" + kUser + "<>" +
                              DovecotFixture::password().toUtf8() + "<>\r\n");
        QElapsedTimer clock;
        clock.start();
        const double cpu_before = thread_cpu_ms();
        check_.run();
        CheckFigures figures;
        figures.wall_ms = double(clock.nsecsElapsed()) / 1e6;
        figures.cpu_ms = thread_cpu_ms() - cpu_before;
        return figures;
    }
    // The same, with what went through `relay` for it.
    CheckFigures check(RelayThread& relay) {
        const RelayThread::Traffic before = relay.traffic();
        CheckFigures figures = check(relay.address());
        const RelayThread::Traffic after = relay.traffic();
        figures.bytes = after.bytes - before.bytes;
        figures.tops = after.tops - before.tops;
        return figures;
    }

private:
    CheckFixture check_;
};

CheckFigures run_check(const QString& server, const TlsSettings& tls = {kPop3TlsPort, {}}) {
    return Program(tls).check(server);
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

// The same dialogue done by poplib through `relay`; a wall time of -1 when it failed.
CheckFigures run_poplib(RelayThread& relay) {
    const RelayThread::Traffic before = relay.traffic();
    QProcess python;
    python.start("python3",
                 {"-c", kPoplib, QString::number(relay.port()), kUser, DovecotFixture::password()});
    CheckFigures figures;
    if (!python.waitForFinished(120000) || python.exitCode() != 0) {
        std::fprintf(stderr, "poplib failed: %s\n", python.readAllStandardError().constData());
        figures.wall_ms = -1;
        return figures;
    }
    figures.wall_ms = python.readAllStandardOutput().split(' ').value(0).toDouble();
    const RelayThread::Traffic after = relay.traffic();
    figures.bytes = after.bytes - before.bytes;
    figures.tops = after.tops - before.tops;
    return figures;
}

void print_row(const char* name, const CheckFigures& figures, double floor, bool with_cpu) {
    std::printf("  %-30s %9.1f ms", name, figures.wall_ms);
    if (floor > 0) {
        std::printf("  %6.3f x floor", figures.wall_ms / floor);
    } else {
        std::printf("  %14s", "");
    }
    std::printf("  %9lld bytes  %4lld TOP", static_cast<long long>(figures.bytes),
                static_cast<long long>(figures.tops));
    if (with_cpu) {
        std::printf("  CPU %.1f ms", figures.cpu_ms);
    }
    std::printf("\n");
}

void bench_latency(int one_way_ms) {
    RelayThread old_server(one_way_ms, true);
    RelayThread relay(one_way_ms, false);
    // Warms Dovecot's caches for this mailbox.
    run_check(old_server.address());
    run_check(relay.address());
    // Without added latency a single run is noise-sized: take the best of three.
    const int runs = one_way_ms == 0 ? 3 : 1;
    CheckFigures sequential;
    CheckFigures first;
    CheckFigures second;
    CheckFigures poplib;
    for (int run = 0; run < runs; ++run) {
        sequential = best(sequential, Program().check(old_server));
        Program program;
        first = best(first, program.check(relay));
        second = best(second, program.check(relay));
        const CheckFigures python = run_poplib(old_server);
        if (python.wall_ms > 0) {
            poplib = best(poplib, python);
        }
    }
    const double rtt = 2.0 * one_way_ms;
    const double floor = (kMessages + 4) * rtt;
    std::printf(
        "one-way delay %d ms (RTT %.0f ms), %d messages, round-trip floor (N+4) x RTT "
        "= %.0f ms\n",
        one_way_ms, rtt, kMessages, floor);
    print_row("one at a time, no CAPA", sequential, floor, true);
    print_row("first check, pipelined", first, floor, true);
    print_row("second check, header cache", second, floor, true);
    if (poplib.wall_ms < 1e300) {
        print_row("Python poplib, one at a time", poplib, floor, false);
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
    CheckFigures plain;
    CheckFigures secure;
    for (int run = 0; run < 3; ++run) {
        plain = best(plain, run_check(plain_server));
        secure = best(secure, run_check(tls_server, tls));
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

// Messages whose header blocks are the size of real ones: 2 to 6 KiB of
// relay, authentication and list headers, as mail from a large provider
// arrives.
QList<QByteArray> realistic_messages(int count) {
    const QByteArray hop =
        "Received: from mail-relay-%1.example.net (mail-relay-%1.example.net [198.51.100.%1])\n"
        "\tby mx.example.org (Postfix) with ESMTPS id 4Qx%1Lm7Zz2;\n"
        "\tSun, 6 Dec 2026 10:00:%1 +0000 (UTC)\n";
    const QByteArray signature =
        "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=example.net; s=20230601;\n"
        "\th=from:to:subject:date:message-id:mime-version:content-type;\n"
        "\tbh=47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=;\n"
        "\tb=" +
        QByteArray(64, 'Q') + "\n\t " + QByteArray(64, 'w') + "\n\t " + QByteArray(64, 'E') +
        "\n"
        "Authentication-Results: mx.example.org; dkim=pass header.d=example.net;\n"
        "\tspf=pass smtp.mailfrom=example.net; dmarc=pass (p=REJECT) header.from=example.net\n"
        "List-Unsubscribe: <https://lists.example.net/unsubscribe?id=0123456789abcdef>\n"
        "X-Mailer: Example Mail Engine 12.4\n";
    QList<QByteArray> list = DovecotFixture::numbered_messages(count, "sender", "bench message ");
    for (int k = 1; k <= count; ++k) {
        const int header_bytes = 2048 + (k * 1237) % 4096;
        QByteArray extra = signature;
        for (int n = 1; extra.size() + list[k - 1].size() < header_bytes; ++n) {
            extra += QByteArray(hop).replace("%1", QByteArray::number(n % 60));
        }
        list[k - 1].prepend(extra);
    }
    return list;
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
    const QString error = DovecotFixture::fill(kUser, realistic_messages(kMessages));
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
