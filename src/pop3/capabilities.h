#pragma once

#include <QStringList>
#include <QStringView>

#include "net/connection.h"

namespace ostrel {

class Pop3Session;

// What a server offers beyond the basic dialogue, from its CAPA listing.
struct Capabilities {
    bool uidl = false;        // unique ids that survive renumbering
    bool pipelining = false;  // commands may be sent before their replies arrive
    bool stls = false;        // the connection can be upgraded to TLS
    QStringList sasl;         // the SASL mechanisms AUTH takes, upper case
};

// The capabilities named in a CAPA listing (the reply without its status
// line, up to and including the closing "."). Each line names one capability
// in its first word, in any letter case; arguments and unknown names are
// ignored.
Capabilities parse_capabilities(QStringView listing);

// What asking CAPA on the connection in progress came to. Only an answer
// tells anything about the server: a CAPA it left unanswered says nothing of
// what it offers (STLS least of all), and the stream can no longer be
// trusted, since a late listing would be taken for the next command's reply.
struct CapaAnswer {
    enum Kind {
        Listed,   // a listing: `offered` holds what it names
        Refused,  // "-ERR": a server without CAPA, which offers nothing more
        HungUp,   // the connection closed before a byte of a reply: no CAPA either
        Unknown,  // no whole reply within the time-out, or part of one before a close
        Failed,   // the wait ended otherwise: `result` (Ending, Overflowed, SendFailed)
    };
    Kind kind = Unknown;
    Capabilities offered;
    WaitResult result = WaitResult::Answered;
};

// Sends CAPA and reads its reply.
[[nodiscard]] CapaAnswer ask_capabilities(Pop3Session& session);

}  // namespace ostrel
