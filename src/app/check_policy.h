#pragma once

#include <QNetworkInformation>
#include <QObject>
#include <QTimer>
#include <functional>

namespace ostrel {

class EventLog;
class SystemWatch;

// The log lines of a network that goes and comes back.
inline constexpr char kNetworkDown[] = "The network is down: checks wait until it returns";
inline constexpr char kNetworkBack[] = "The network is back: checking now";

// How long the policy waits. The product uses the defaults; tests may shorten them.
struct WakeTimings {
    int settle_ms = 1000;         // network events of one change make one check
    int resume_grace_ms = 10000;  // no network information: the check this long after waking
    int network_wait_ms = 60000;  // the longest wait for the internet after waking or a return
};

// Decides when checks run besides the minute schedule, from what the system
// says about sleep and the network: a check soon after the machine wakes, and
// at once when the internet comes back or the default route moves; none while
// the machine is about to sleep or the network is down, when scheduled checks
// are skipped quietly (one log line when the network goes, one when it comes
// back). Without network information (no NetworkManager) only sleep counts.
// Fed by a SystemWatch in the program, by plain calls in tests.
class CheckPolicy : public QObject {
    Q_OBJECT
public:
    using Reachability = QNetworkInformation::Reachability;

    CheckPolicy(EventLog& log, std::function<bool()> check_running,
                WakeTimings timings = WakeTimings(), QObject* parent = nullptr);

    // Takes the watch's network state and follows its signals.
    void follow(const SystemWatch& watch);

    // A network information backend reports `now`; without one the network
    // is taken to be there.
    void network_known(Reachability now);
    void reachability_changed(Reachability reachability);
    void route_changed();
    // True: about to sleep. False: woke.
    void preparing_for_sleep(bool sleeping);
    // Any check ended (scheduled, manual or one this policy asked for).
    void check_ended();

    // Whether a scheduled check may run now.
    bool scheduled_check_allowed() const { return !asleep_ && !awaiting_ && !offline_; }

signals:
    // A check should start now; the schedule counts from it.
    void check_due();

private:
    void request_check();
    void wait_for_network(int ms);
    void wait_ended();
    void tell_offline();

    EventLog& log_;
    std::function<bool()> check_running_;
    WakeTimings timings_;
    QTimer settle_timer_;
    QTimer network_wait_timer_;
    bool network_known_ = false;
    Reachability reachability_ = Reachability::Unknown;
    bool asleep_ = false;
    bool offline_ = false;
    bool told_offline_ = false;
    bool awaiting_ = false;  // a check waits for the network (after waking or a return)
    bool wanted_ = false;    // a check is due once the running one ends
};

}  // namespace ostrel
