#pragma once

#include <QSet>
#include <QString>
#include <QStringView>

namespace ostrel {

class Pop3Session;
enum class WaitResult;

// What a server offers beyond the basic dialogue, from its CAPA listing.
struct Capabilities {
    bool uidl = false;        // unique ids that survive renumbering
    bool pipelining = false;  // commands may be sent before their replies arrive
    bool stls = false;        // the connection can be upgraded to TLS
};

// The capabilities named in a CAPA listing (the reply without its status
// line, up to and including the closing "."). Each line names one capability
// in its first word, in any letter case; arguments and unknown names are
// ignored.
Capabilities parse_capabilities(QStringView listing);

// Asks each server for its capabilities once per connection. A server that
// let CAPA go unanswered is remembered for the rest of the run and not asked
// again, so each later check of it costs no extra wait.
class CapabilityProbe {
public:
    // Sends CAPA and reads its listing into `found`. "-ERR" is an answer:
    // nothing is offered. A server remembered as silent is not asked and
    // counts as Answered. TimedOut leaves the stream untrustworthy: the
    // caller must close the connection and start again without CAPA.
    [[nodiscard]] WaitResult ask(Pop3Session& session, const QString& server, Capabilities* found);

private:
    QSet<QString> unanswered_;
};

}  // namespace ostrel
