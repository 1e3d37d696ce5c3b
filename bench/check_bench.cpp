// Checks of mailboxes of 300, 3,000 and 20,000 messages on the private
// Dovecot, whose header blocks are 2 to 6 KiB as real ones are, behind a
// relay with a 40 ms round trip, in plain text, over TLS from the first byte
// and with STLS: the first check and a second one of the unchanged mailbox,
// each beside a least-cost client in the same run, which sends every command
// as early as the protocol allows (after the greeting CAPA, to learn that
// the server pipelines; then USER, PASS, STAT and UIDL in one write; then
// every TOP it needs in one write), and as a ratio to it; and as a ratio to
// the same client sending USER alone first, as a client must that never
// sends a password after a refused USER. Then the old
// figures at 300 messages: one command at a time and Python's poplib, and
// the CPU a check costs while a server stays silent.
// Needs the test server with certificates:
//   scripts/make-test-certificates DIR/certs
//   scripts/dovecot-test-server start DIR/dovecot DIR/certs; . DIR/dovecot/env
// Arguments: the mailbox sizes to measure among 300, 3000 and 20000 (default
// all three); the figures at 300 messages come with 300.
#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSet>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <cstdio>

#include "realistic_mail.h"
#include "relay_thread.h"
#include "support/check_fixture.h"
#include "support/dovecot_fixture.h"

using namespace ostrel;
using testing::CheckFixture;
using testing::DovecotFixture;
using testing::realistic_messages;
using testing::RelayThread;

namespace {

constexpr int kOneWayDelayMs = 20;

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

quint16 env_port(const char* name) {
    return static_cast<quint16>(qEnvironmentVariableIntValue(name));
}

QList<QSslCertificate> test_authority() {
    return QSslCertificate::fromPath(qEnvironmentVariable("OSTREL_TEST_CERTS") + "/ca.pem");
}

struct CheckFigures {
    double wall_ms = 1e300;
    double cpu_ms = 0;
};

CheckFigures best(const CheckFigures& a, const CheckFigures& b) {
    return a.wall_ms <= b.wall_ms ? a : b;
}

// How a client reaches the server through the relay.
enum class Transport { Plain, Tls, Stls };
const char* transport_name(Transport transport) {
    return transport == Transport::Plain ? "plain" : transport == Transport::Tls ? "995" : "STLS";
}

// A program folder kept from one check to the next, as the product keeps it:
// a second check finds the seen state and the header cache of the first.
class Program {
public:
    Program(const QString& user, const TlsSettings& tls = {kPop3TlsPort, {}})
        : user_(user), check_(kReplyTimeoutMs, tls) {}
    CheckFigures check(const QString& server) {
        check_.write_accounts(server.toUtf8() + "<>" + user_.toUtf8() + "<>" +
                              DovecotFixture::password().toUtf8() + "<>\r\n");
        QElapsedTimer clock;
        clock.start();
        const double cpu_before = thread_cpu_ms();
        check_.run();
        CheckFigures figures;
        figures.wall_ms = double(clock.nsecsElapsed()) / 1e6;
        figures.cpu_ms = thread_cpu_ms() - cpu_before;
        // Anything logged but the notes on STLS is a failure worth seeing.
        for (const QString& line : check_.log_text().mid(logged_).split("\r\n")) {
            if (!line.isEmpty() && !line.contains("unencrypted") && !line.contains("STLS mark")) {
                std::fprintf(stderr, "the check logged: %s\n", qPrintable(line));
            }
        }
        logged_ = check_.log_text().size();
        return figures;
    }

private:
    QString user_;
    CheckFixture check_;
    qsizetype logged_ = 0;
};

// The least-cost client: blocking reads on this thread (the relay has its
// own), every command written as early as the protocol allows (or with USER
// alone first), the replies read in order. It remembers the unique ids it
// has read headers for, as a header cache would.
class LeastCostClient {
public:
    LeastCostClient(const QString& user, Transport transport, bool user_alone)
        : user_(user.toUtf8()), transport_(transport), user_alone_(user_alone) {}

    double check(quint16 port) {
        QElapsedTimer clock;
        clock.start();
        QSslSocket socket;
        socket_ = &socket;
        buffer_.clear();
        start_ = 0;
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(test_authority());
        socket.setSslConfiguration(tls);
        socket.setPeerVerifyName("127.0.0.1");
        if (transport_ == Transport::Tls) {
            socket.connectToHostEncrypted("127.0.0.1", port, "127.0.0.1");
        } else {
            socket.connectToHost("127.0.0.1", port);
        }
        line();  // the greeting
        send("CAPA\r\n");
        block();
        if (transport_ == Transport::Stls) {
            send("STLS\r\n");
            line();
            socket.startClientEncryption();
            if (!socket.waitForEncrypted(15000)) {
                fail("STLS handshake");
            }
            // The capabilities read in clear no longer count.
            send("CAPA\r\n");
            block();
        }
        const QByteArray user = "USER " + user_ + "\r\n";
        const QByteArray rest =
            "PASS " + DovecotFixture::password().toUtf8() + "\r\nSTAT\r\nUIDL\r\n";
        if (user_alone_) {
            send(user);
            line();
            send(rest);
        } else {
            send(user + rest);
            line();
        }
        line();
        const int count = line().split(' ').value(1).toInt();
        QByteArray commands;
        const QList<QByteArray> listing = block().split('\n');
        QSet<QByteArray> listed;
        for (const QByteArray& entry : listing) {
            const QList<QByteArray> fields = entry.trimmed().split(' ');
            if (fields.size() == 2 && !known_.contains(fields[1])) {
                commands += "TOP " + fields[0] + " 0\r\n";
            }
            if (fields.size() == 2) {
                listed.insert(fields[1]);
            }
        }
        if (listed.size() != count) {
            fail("UIDL");
        }
        send(commands);
        for (int k = commands.count('\n'); k > 0; --k) {
            block();
        }
        known_ = listed;
        socket.abort();
        return double(clock.nsecsElapsed()) / 1e6;
    }

private:
    void send(const QByteArray& bytes) {
        socket_->write(bytes);
        socket_->flush();
    }
    // Until `end` is in the buffer after the reply in progress; returns the reply.
    QByteArray reply_up_to(const QByteArray& end) {
        qsizetype scanned = start_;
        for (;;) {
            const qsizetype found = buffer_.indexOf(end, scanned);
            if (found >= 0) {
                const QByteArray reply = buffer_.mid(start_, found + end.size() - start_);
                start_ = found + end.size();
                if (start_ > buffer_.size() / 2) {
                    buffer_.remove(0, start_);
                    start_ = 0;
                }
                return reply;
            }
            scanned = qMax(start_, buffer_.size() - end.size());
            if (!socket_->waitForReadyRead(15000)) {
                fail("a reply");
            }
            buffer_ += socket_->readAll();
        }
    }
    QByteArray line() { return reply_up_to("\r\n"); }
    // A multi-line reply without its status line.
    QByteArray block() {
        const QByteArray status = line();
        if (!status.startsWith("+OK")) {
            fail(status);
        }
        if (buffer_.mid(start_, 3) == ".\r\n") {
            start_ += 3;
            return {};
        }
        return reply_up_to("\r\n.\r\n");
    }
    [[noreturn]] void fail(const QByteArray& what) {
        std::fprintf(stderr, "least-cost client failed at %s (%s)\n", what.constData(),
                     qPrintable(socket_->errorString()));
        std::exit(1);
    }

    QByteArray user_;
    Transport transport_;
    bool user_alone_;
    QSslSocket* socket_ = nullptr;
    QByteArray buffer_;
    qsizetype start_ = 0;
    QSet<QByteArray> known_;
};

struct Row {
    CheckFigures first, unchanged;
    // The least-cost client's figures, and with USER alone.
    double least_first = 1e300, least_unchanged = 1e300;
    double alone_first = 1e300, alone_unchanged = 1e300;
};

// One mailbox through one transport: the first check and the unchanged one,
// ours beside the least-cost client's, best of `runs`.
Row measure(const QString& user, Transport transport, int runs) {
    const quint16 target = transport == Transport::Plain ? DovecotFixture::port()
                           : transport == Transport::Tls ? env_port("OSTREL_DOVECOT_TLS_PORT")
                                                         : env_port("OSTREL_DOVECOT_STLS_PORT");
    RelayThread relay(target, kOneWayDelayMs);
    const TlsSettings tls{transport == Transport::Tls ? relay.port() : kPop3TlsPort,
                          test_authority()};
    Row row;
    for (int run = 0; run < runs; ++run) {
        Program program(user, tls);
        row.first = best(row.first, program.check(relay.address()));
        row.unchanged = best(row.unchanged, program.check(relay.address()));
        LeastCostClient least(user, transport, false);
        row.least_first = qMin(row.least_first, least.check(relay.port()));
        row.least_unchanged = qMin(row.least_unchanged, least.check(relay.port()));
        LeastCostClient alone(user, transport, true);
        row.alone_first = qMin(row.alone_first, alone.check(relay.port()));
        row.alone_unchanged = qMin(row.alone_unchanged, alone.check(relay.port()));
    }
    return row;
}

void bench_against_least_cost(const QList<int>& sizes) {
    const bool tls = env_port("OSTREL_DOVECOT_TLS_PORT") != 0;
    if (!tls) {
        std::printf("TLS rows skipped: OSTREL_DOVECOT_TLS_PORT is not set\n");
    }
    std::printf("through a relay with a %d ms round trip; ratio = Ostrel / least-cost client\n",
                2 * kOneWayDelayMs);
    std::printf("ms: Ostrel (least-cost client, with USER alone) ratio to each\n");
    std::printf("%8s %-5s | %-43s | %-43s | %s\n", "messages", "", "first check",
                "unchanged mailbox", "CPU first / unchanged");
    const struct {
        int count;
        const char* user;
    } mailboxes[] = {{300, "user07"}, {3000, "user08"}, {20000, "user09"}};
    for (const auto& mailbox : mailboxes) {
        if (!sizes.contains(mailbox.count)) {
            continue;
        }
        const QString error = DovecotFixture::fill(mailbox.user, realistic_messages(mailbox.count));
        if (!error.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            std::exit(1);
        }
        // Lets Dovecot index the new mailbox before anything is timed.
        Program(mailbox.user).check(DovecotFixture::address());
        for (const Transport transport : {Transport::Plain, Transport::Tls, Transport::Stls}) {
            if (transport != Transport::Plain && !tls) {
                continue;
            }
            const Row row = measure(mailbox.user, transport, mailbox.count > 3000 ? 3 : 5);
            const auto figures = [](const CheckFigures& ours, double least, double alone) {
                std::printf("%7.1f (%7.1f, %7.1f) %5.2f x %5.2f x | ", ours.wall_ms, least, alone,
                            ours.wall_ms / least, ours.wall_ms / alone);
            };
            std::printf("%8d %-5s | ", mailbox.count, transport_name(transport));
            figures(row.first, row.least_first, row.alone_first);
            figures(row.unchanged, row.least_unchanged, row.alone_unchanged);
            std::printf("%6.1f / %5.1f ms\n", row.first.cpu_ms, row.unchanged.cpu_ms);
            std::fflush(stdout);
        }
    }
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

// One command at a time at 300 messages (user07): the product against a
// server without CAPA, and Python's poplib.
void bench_one_at_a_time() {
    RelayThread old_server(DovecotFixture::port(), kOneWayDelayMs, true);
    const CheckFigures sequential = Program("user07").check(old_server.address());
    std::printf("300 messages one command at a time (no CAPA): %.1f ms\n", sequential.wall_ms);
    QProcess python;
    python.start("python3", {"-c", kPoplib, QString::number(old_server.port()), "user07",
                             DovecotFixture::password()});
    if (python.waitForFinished(120000) && python.exitCode() == 0) {
        std::printf("300 messages with Python's poplib, one at a time: %.1f ms\n",
                    python.readAllStandardOutput().split(' ').value(0).toDouble());
    }
}

// A server that accepts and never says a word: the check waits out its time-out.
void bench_silent_wait() {
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost);
    QList<QTcpSocket*> held;
    QObject::connect(&silent, &QTcpServer::newConnection,
                     [&] { held << silent.nextPendingConnection(); });
    const double process_before = process_cpu_ms();
    CheckFixture check(kReplyTimeoutMs);
    check.write_accounts(
        QStringLiteral("127.0.0.1:%1<>user07<>secret<>\r\n").arg(silent.serverPort()).toUtf8());
    QElapsedTimer clock;
    clock.start();
    const double cpu_before = thread_cpu_ms();
    check.run();
    const CheckFigures wait{double(clock.nsecsElapsed()) / 1e6, thread_cpu_ms() - cpu_before};
    std::printf(
        "silent server, one 15 s greeting wait: %.1f ms, CPU (UI thread) %.1f ms, "
        "whole process %.1f ms\n",
        wait.wall_ms, wait.cpu_ms, process_cpu_ms() - process_before);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");
    QApplication app(argc, argv);
    if (!DovecotFixture::available()) {
        std::fprintf(stderr, "%s\n", DovecotFixture::kSkipReason);
        return 1;
    }
    QList<int> sizes;
    for (int i = 1; i < argc; ++i) {
        sizes << QByteArray(argv[i]).toInt();
    }
    if (sizes.isEmpty()) {
        sizes = {300, 3000, 20000};
    }
    bench_against_least_cost(sizes);
    if (sizes.contains(300)) {
        bench_one_at_a_time();
        bench_silent_wait();
    }
    std::printf("peak memory (max RSS)  %ld KiB\n", peak_memory_kib());
    return 0;
}
