#include "app/check_policy.h"

#include "core/event_log.h"
#include "desktop/system_watch.h"

namespace ostrel {

CheckPolicy::CheckPolicy(EventLog& log, std::function<bool()> check_running, WakeTimings timings,
                         QObject* parent)
    : QObject(parent), log_(log), check_running_(std::move(check_running)), timings_(timings) {
    settle_timer_.setSingleShot(true);
    network_wait_timer_.setSingleShot(true);
    connect(&settle_timer_, &QTimer::timeout, this, &CheckPolicy::wait_ended);
    connect(&network_wait_timer_, &QTimer::timeout, this, &CheckPolicy::wait_ended);
}

void CheckPolicy::follow(const SystemWatch& watch) {
    if (watch.network_known()) {
        network_known(watch.reachability());
    }
    connect(&watch, &SystemWatch::preparing_for_sleep, this, &CheckPolicy::preparing_for_sleep);
    connect(&watch, &SystemWatch::reachability_changed, this, &CheckPolicy::reachability_changed);
    connect(&watch, &SystemWatch::route_changed, this, &CheckPolicy::route_changed);
}

// A network that is there at start-up starts nothing. One that is not yet
// (a log-on while Wi-Fi connects) is waited for as after waking: checked when
// it comes, told only when it does not come within the wait.
void CheckPolicy::network_known(Reachability now) {
    network_known_ = true;
    reachability_ = now;
    if (now == Reachability::Disconnected) {
        offline_ = true;
        wait_for_network(timings_.network_wait_ms);
    }
}

// Unknown (connecting, NetworkManager asleep) leaves the last word standing:
// a network that went down stays down until it reports a connection.
void CheckPolicy::reachability_changed(Reachability reachability) {
    if (reachability == reachability_) {
        return;
    }
    reachability_ = reachability;
    const bool was_offline = offline_;
    switch (reachability) {
        case Reachability::Unknown:
            return;
        case Reachability::Disconnected:
            offline_ = true;
            settle_timer_.stop();
            // Going to sleep takes the network along; after waking, the wait
            // decides whether it is worth a line.
            if (!asleep_ && !awaiting_) {
                tell_offline();
            }
            return;
        case Reachability::Local:
        case Reachability::Site:
            // Back, but not yet to the internet: NetworkManager usually
            // reports it a moment later.
            offline_ = false;
            if (was_offline) {
                wait_for_network(timings_.network_wait_ms);
            }
            return;
        case Reachability::Online:
            offline_ = false;
            request_check();
            return;
    }
}

void CheckPolicy::route_changed() {
    request_check();
}

// A check that runs when the machine goes to sleep is left to fail on its own.
void CheckPolicy::preparing_for_sleep(bool sleeping) {
    asleep_ = sleeping;
    settle_timer_.stop();
    network_wait_timer_.stop();
    awaiting_ = false;
    wanted_ = false;
    if (sleeping) {
        return;
    }
    if (!network_known_) {
        wait_for_network(timings_.resume_grace_ms);
    } else {
        wait_for_network(timings_.network_wait_ms);
        if (reachability_ == Reachability::Online) {
            request_check();
        }
    }
}

void CheckPolicy::check_ended() {
    if (wanted_) {
        wanted_ = false;
        request_check();
    }
}

void CheckPolicy::request_check() {
    if (asleep_ || offline_ || settle_timer_.isActive()) {
        return;
    }
    settle_timer_.start(timings_.settle_ms);
}

void CheckPolicy::wait_for_network(int ms) {
    awaiting_ = true;
    network_wait_timer_.start(ms);
}

// The end of a settle or of a wait for the network: the check, unless the
// network is down (then said once) or a check runs (then it follows that one).
void CheckPolicy::wait_ended() {
    settle_timer_.stop();
    network_wait_timer_.stop();
    awaiting_ = false;
    if (asleep_) {
        return;
    }
    if (offline_) {
        tell_offline();
        return;
    }
    if (check_running_()) {
        wanted_ = true;
        return;
    }
    if (told_offline_) {
        log_.log_event(QLatin1String(kNetworkBack));
        told_offline_ = false;
    }
    emit check_due();
}

void CheckPolicy::tell_offline() {
    if (!told_offline_) {
        log_.log_event(QLatin1String(kNetworkDown));
        told_offline_ = true;
    }
}

}  // namespace ostrel
