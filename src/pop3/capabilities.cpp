#include "pop3/capabilities.h"

#include "auth/sasl.h"
#include "pop3/pop3_session.h"

namespace ostrel {

Capabilities parse_capabilities(QStringView listing) {
    Capabilities found;
    for (QStringView line : listing.split(u"\r\n")) {
        if (line == u".") {
            break;
        }
        const QStringView name = line.left(line.indexOf(QLatin1Char(' ')));
        if (name.compare(u"UIDL", Qt::CaseInsensitive) == 0) {
            found.uidl = true;
        } else if (name.compare(u"PIPELINING", Qt::CaseInsensitive) == 0) {
            found.pipelining = true;
        } else if (name.compare(u"STLS", Qt::CaseInsensitive) == 0) {
            found.stls = true;
        } else if (name.compare(u"SASL", Qt::CaseInsensitive) == 0) {
            found.sasl = sasl_mechanisms(line);
        }
    }
    return found;
}

WaitResult CapabilityProbe::ask(Pop3Session& session, const QString& server, Capabilities* found) {
    *found = Capabilities();
    if (unanswered_.contains(server)) {
        return WaitResult::Answered;
    }
    session.set_reply_mode(ReplyMode::Top);
    const WaitResult result = session.sendMsg(QStringLiteral("CAPA"));
    session.set_reply_mode(ReplyMode::SingleLine);
    if (result == WaitResult::TimedOut) {
        unanswered_.insert(server);
    }
    if (result == WaitResult::Answered && !session.reply().reply_err()) {
        *found = parse_capabilities(session.reply().reply_text());
    }
    return result;
}

}  // namespace ostrel
