// When checks run besides the schedule, fed as a SystemWatch would feed it.
#include <QtTest>

#include "app/check_policy.h"
#include "core/event_log.h"

using namespace ostrel;
using Reach = QNetworkInformation::Reachability;

namespace {

// Feeds a policy `steps` and tells what it did, in order: C a check is due,
// v / ^ the network-down / back line, + / - a scheduled check may run / is
// skipped. `start`: n no network information, else the reachability known at
// start. Steps: D L S O U reachability; z sleep, w wake, r route moved; x a
// check starts, e it ends; . longer than any wait; ? may a scheduled check run.
QString trace(QChar start, const QString& steps) {
    const QHash<QChar, Reach> reaches = {{'D', Reach::Disconnected},
                                         {'L', Reach::Local},
                                         {'S', Reach::Site},
                                         {'O', Reach::Online},
                                         {'U', Reach::Unknown}};
    QTemporaryDir dir;
    EventLog log(dir.filePath("log"));
    bool running = false;
    CheckPolicy policy(log, [&running] { return running; }, {10, 30, 100});
    QString trace;
    qsizetype traced = 0;
    const auto trace_log = [&] {
        QFile file(log.path());
        const QByteArray lines = file.open(QIODevice::ReadOnly) ? file.readAll().mid(traced) : "";
        traced += lines.size();
        trace += QString(lines.count(kNetworkDown), 'v') + QString(lines.count(kNetworkBack), '^');
    };
    QObject::connect(&policy, &CheckPolicy::check_due, [&] {
        trace_log();
        trace += 'C';
    });
    if (start != 'n') {
        policy.network_known(reaches[start]);
    }
    for (const QString& step : steps.split(' ')) {
        const QChar c = step[0];
        if (reaches.contains(c)) {
            policy.reachability_changed(reaches[c]);
        } else if (c == 'z' || c == 'w') {
            policy.preparing_for_sleep(c == 'z');
        } else if (c == 'r') {
            policy.route_changed();
        } else if (c == 'x' || c == 'e') {
            running = c == 'x';
            if (!running) {
                policy.check_ended();
            }
        } else if (c == '.') {
            QTest::qWait(250);
        }
        trace_log();
        if (c == '?') {
            trace += policy.scheduled_check_allowed() ? '+' : '-';
        }
    }
    return trace;
}

}  // namespace

class CheckPolicyTest : public QObject {
    Q_OBJECT
private slots:
    void decides_when_checks_run_data() {
        QTest::addColumn<QChar>("start");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("happened");
        const auto row = [](const char* name, char start, const char* steps, const char* trace) {
            QTest::newRow(name) << QChar(start) << QString(steps) << QString(trace);
        };
        row("nothing reported: the schedule alone", 'n', "? . ?", "++");
        row("no network information: a check a grace after waking", 'n', "? z ? w ? . ?", "+--C+");
        row("sleep again within the grace", 'n', "z w z . ? w .", "-C");
        row("woke online: a check once settled", 'O', "z w ? .", "-C");
        row("a suspend with NetworkManager is quiet", 'O', "z U D w D U ? O .", "-C");
        row("woke, the network stays down: told after the wait", 'O', "z U w D . ?", "v-");
        row("down, then back: a line each, a check", 'O', "D ? . ? O .", "v--^C");
        row("connecting or asleep keeps it down", 'O', "D U D U ? . O . ?", "v-^C+");
        row("back to a local network: a check after the wait", 'O', "D L ? . ?", "v-^C+");
        row("back locally, then online: one check", 'O', "D L S O .", "v^C");
        row("online from local or site", 'O', "L . O . S . O .", "CC");
        row("a burst of route moves: one check", 'O', "r r . r .", "CC");
        row("route moves offline: nothing", 'O', "D r .", "v");
        row("sleep while settling: nothing", 'O', "r z . U O .", "");
        row("down while settling: nothing", 'O', "r D .", "v");
        row("down, asleep, back after waking", 'O', "D z w . O .", "v^C");
        row("due during a check: after it", 'O', "x r . e .", "C");
        row("back during a check: told when checking", 'O', "D x O . e .", "v^C");
        row("offline at start: told after the wait", 'D', "? . O . ?", "-v^C+");
        row("offline at start, soon online: a check", 'D', "O .", "C");
    }
    void decides_when_checks_run() {
        QFETCH(QChar, start);
        QFETCH(QString, steps);
        QFETCH(QString, happened);
        QCOMPARE(trace(start, steps), happened);
    }
};

QTEST_GUILESS_MAIN(CheckPolicyTest)
#include "check_policy_test.moc"
