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

CapaAnswer ask_capabilities(Pop3Session& session) {
    session.set_reply_mode(ReplyMode::Top);
    const WaitResult result = session.sendMsg(QStringLiteral("CAPA"));
    session.set_reply_mode(ReplyMode::SingleLine);
    switch (result) {
        case WaitResult::Answered:
            if (session.reply().reply_err()) {
                return {CapaAnswer::Refused, {}, result};
            }
            return {CapaAnswer::Listed, parse_capabilities(session.reply().reply_text()), result};
        case WaitResult::Closed:
            return {session.heard_since_command() ? CapaAnswer::Unknown : CapaAnswer::HungUp,
                    {},
                    result};
        case WaitResult::TimedOut:
            return {CapaAnswer::Unknown, {}, result};
        default:
            return {CapaAnswer::Failed, {}, result};
    }
}

}  // namespace ostrel
